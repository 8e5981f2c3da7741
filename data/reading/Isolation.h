#pragma once
// Runs a read of a database file in a separate, confined process. A file may be damaged in any
// way, and a reader that missed one way may crash, loop or exhaust memory on it. Whatever
// happens there, this program goes on: the failure comes back as EProviderError.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "data/records/TableData.h"
#include "data/reading/Wire.h"

namespace quorlin {

// Runs the reading program (quorlin-reader) with the request and reads what it streams back
// with consume, as it arrives. An EProviderError raised in the reading program reaches the
// caller with its message; a reading program that crashed, ran out of memory, or stayed silent
// longer than the time allowed gives EProviderError(failureMessage). A read beyond its bounds
// (records beyond their memory, ERecordsTooLarge from consume; more bytes or time than a read
// may take) is stopped there and gives EProviderError(tooLarge(the reason)), or failureMessage
// and the reason when tooLarge is empty.
void RunReader(const std::vector<std::string>& request, const std::function<void(TWireReader&)>& consume,
               const std::string& failureMessage,
               const std::function<std::string(const std::string&)>& tooLarge = {});

// Every record of a table or view, read in a reading process of its own.
TTableData ReadRecordsIsolated(const std::string& path, const std::string& name, bool view);

// The tables, Access's own tables and the views of a file, read in a reading process of its own.
std::vector<TCatalogObject> ReadCatalogIsolated(const std::string& path);

// Seconds of silence after which a reading process is taken to hang (default 30); the
// QUORLIN_READ_TIMEOUT environment variable may set it, for tests that provoke hangs.
int IsolatedReadTimeout();
// Seconds one read may take in all, however busy its stream: ten times the silence allowed.
int IsolatedReadTimeLimit();
// Bytes one read may send: room for the records RecordMemoryLimit allows, and no more.
std::uint64_t IsolatedReadByteLimit();

}  // namespace quorlin
