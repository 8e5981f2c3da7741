#pragma once
// Tables from CSV files: UTF-8 (a leading byte-order mark is skipped), comma-separated, quoted
// as RFC 4180 says, the first record naming the fields. Every cell is text, as in a text
// column of a database: an unquoted empty cell is empty (NULL) and reads as 0; any other cell,
// a quoted empty one included, must read as a decimal number when it is used.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "statistics/MemoryDataSet.h"

namespace quorlin {

// The file cannot be read or is not well-formed CSV; the text says where and why.
class ECsvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What one line may take. A file is read a chunk at a time and a line only as far as these
// allow, so that a line of any length is refused at once, naming it, in little time and memory.
struct TCsvLimits {
    // Bytes of one line, or of one record whose quoted cells hold line breaks.
    std::size_t LineBytes = std::size_t{16} << 20;
    // Fields the header may name.
    std::size_t Fields = 1'000'000;
};

// Blank lines between records are skipped. Every record must have as many cells as the header
// has names; names must be non-empty and distinct (letter case ignored).
TMemoryDataSet ParseCsv(std::string_view text, const std::string& sourceName, const TCsvLimits& limits = {});
TMemoryDataSet ReadCsvFile(const std::string& path, const TCsvLimits& limits = {});

}  // namespace quorlin
