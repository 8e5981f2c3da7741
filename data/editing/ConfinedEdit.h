#pragma once
// Everything of a change that parses the database, done in the editing process (quorlin-editor)
// on the bytes the program loaded: whether a table may be changed, what a delete would do to
// other tables, and the file with a change made. The program itself only compares, writes,
// renames and reads back.

#include <cstdint>
#include <string>
#include <vector>

#include "data/editing/EditWire.h"

namespace quorlin {

// Why the table cannot be changed; empty when it can.
std::string EditRefusal(const TEditRequest& request, std::vector<std::uint8_t> bytes);

// What deleting request.Change.Record would do to other records, a text a table it reaches.
std::vector<std::string> EditEffects(const TEditRequest& request, std::vector<std::uint8_t> bytes);

// The file with the change made and the tables it rebuilt. database holds the same bytes, open,
// for the records of the tables the change reaches through relationships. Raises
// EProviderError with the reason when the change is refused or the file is damaged.
TBuiltChange BuildChange(const TEditRequest& request, std::vector<std::uint8_t> bytes, int database);

}  // namespace quorlin
