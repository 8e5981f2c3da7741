#pragma once
// Everything of a change that parses the database, done in the editing process (quorlin-editor)
// on the database file handed open for reading (database): whether a table may be changed, what
// a delete would do to other tables, and the file with a change made. The file is mapped, never
// written; the program itself only compares, writes, renames and reads back.

#include <cstdint>
#include <string>
#include <vector>

#include "data/editing/EditWire.h"

namespace quorlin {

// Why the table cannot be changed; empty when it can.
std::string EditRefusal(const TEditRequest& request, int database);

// What deleting request.Change.Record would do to other records, a text a table it reaches.
std::vector<std::string> EditEffects(const TEditRequest& request, int database);

// The table's indexes, a text each (DescribeIndex).
std::vector<std::string> EditIndexes(const TEditRequest& request, int database);

// The pages of the file the change makes differ and the tables it rebuilt, with the hash of the
// bytes it was built on. Raises EProviderError with the reason when the change is refused or the
// file is damaged.
TBuiltChange BuildChange(const TEditRequest& request, int database);

}  // namespace quorlin
