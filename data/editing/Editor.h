#pragma once
// The program's side of the editing process: hands it the request and the database, open for
// reading only, and takes its answer. A process that crashes, falls silent or answers what no
// editor sends makes the change fail as for a damaged file; the program's own state is untouched.

#include <cstdint>
#include <string>
#include <vector>

#include "data/editing/EditWire.h"

namespace quorlin {

// Why the table cannot be changed; empty when it can. database: the file, open.
std::string AskRefusal(const std::string& path, const std::string& table, int database);

// What deleting the record would do to other tables.
std::vector<std::string> AskIndexes(const std::string& path, const std::string& table, int database);
std::vector<std::string> AskEffects(const std::string& path, const std::string& table, std::int32_t record,
                                    int database);

// The file with the change made, on the records before as read (their fields and count).
TBuiltChange AskChange(const std::string& path, const std::string& table, const TRecordChange& change,
                       const TTableData& before, int database);

}  // namespace quorlin
