#pragma once
// Tables from CSV files: UTF-8 (a leading byte-order mark is skipped), comma-separated, quoted
// as RFC 4180 says, the first record naming the fields. Every cell is text, as in a text
// column of a database: an unquoted empty cell is empty (NULL) and reads as 0; any other cell,
// a quoted empty one included, must read as a decimal number when it is used.

#include <stdexcept>
#include <string>
#include <string_view>

#include "../statistics/MemoryDataSet.h"

namespace quorlin {

// The file cannot be read or is not well-formed CSV; the text says where and why.
class ECsvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Blank lines between records are skipped. Every record must have as many cells as the header
// has names; names must be non-empty and distinct (letter case ignored).
TMemoryDataSet ParseCsv(std::string_view text, const std::string& sourceName);
TMemoryDataSet ReadCsvFile(const std::string& path);

}  // namespace quorlin
