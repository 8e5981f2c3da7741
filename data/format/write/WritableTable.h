#pragma once
// Which tables of a file, and which of their fields, this program can change, and why not.

#include <string>
#include <vector>

#include "data/format/write/PageImage.h"
#include "data/format/read/TableScan.h"

namespace quorlin::jet {

// The definition of the user table of that name (exactly, else ignoring letter case). Access's
// own tables are refused as not found, as missing ones are.
TTableDef FindTable(const TPageImage& image, const std::string& name);

// Why the records of the table cannot be changed here, or an empty text when they can. An index
// whose key count lies beyond the definition's first page, where it is rewritten, is damage.
std::string WriteRefusalOf(const TTableDef& def, const TFormat& format);

// The index described in one line for the user, its parts separated by tabs: its name; its fields,
// a descending one marked; "primary key", "unique" or "-"; the sort order of its text ("-" for
// none); what this program does with its keys.
std::string DescribeIndex(const TTableDef& def, const TRealIndex& index);

// Refuses a value for a field whose values the database assigns.
void CheckAssignable(const TColumnDef& column);

}  // namespace quorlin::jet
