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

// A confined program of this one's, started for one request: its path, its arguments, and the
// descriptor it takes as its standard input (none: -1).
struct TConfinedRun {
    std::string Program;
    std::vector<std::string> Arguments;
    int Input = -1;
    int Handed = -1;  // handed on as the program's descriptor 3 (none: -1)
    // NAME=VALUE, each in place of the variable of that name in this program's environment.
    std::vector<std::string> Environment;
};

// RunReader for any confined program that answers as the reading program does.
void RunConfined(const TConfinedRun& run, const std::function<void(TWireReader&)>& consume,
                 const std::string& failureMessage,
                 const std::function<std::string(const std::string&)>& tooLarge = {});

// The program name beside the running program once installed, else where the build put it.
std::string ProgramBeside(const std::string& name, const std::string& buildPath);

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
