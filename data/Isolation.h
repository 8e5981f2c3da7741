#pragma once
// Runs a read of a database file in a separate process. A file may be damaged in any way, and
// a reader that missed one way may crash, loop or exhaust memory on it. Whatever happens there,
// this program goes on: the failure comes back as EProviderError.

#include <functional>
#include <string>

#include "TableData.h"
#include "Wire.h"

namespace quorlin {

// work runs in the reading process and writes its result with the writer; it calls the
// heartbeat now and then during a long read. consume runs in this process and reads what work
// wrote, as it arrives. An EProviderError raised by work reaches the caller with its message;
// a reading process that crashed, ran out of memory, or stayed silent longer than the time
// allowed gives EProviderError(failureMessage).
void RunIsolated(const std::function<void(TWireWriter&, const std::function<void()>& heartbeat)>& work,
                 const std::function<void(TWireReader&)>& consume, const std::string& failureMessage);

// Every record of a table or view, read in a reading process of its own.
TTableData ReadRecordsIsolated(const std::string& path, const std::string& name, bool view);

// Seconds of silence after which a reading process is taken to hang (default 30); the
// QUORLIN_READ_TIMEOUT environment variable may set it, for tests that provoke hangs.
int IsolatedReadTimeout();

}  // namespace quorlin
