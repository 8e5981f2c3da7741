#pragma once
// The files a sort order's character codes are kept in, in the repository: one line per run of
// characters whose codes differ only in one field rising by a fixed step, so that a script of
// the writing tool can make them and the build can turn them into constant tables.
//
//   FIRST COUNT STEP KIND WEIGHT ACCENT CODE MARK
//
// FIRST: the first character's code point, hexadecimal; COUNT characters from it in turn. KIND:
// one letter of TCharKind (N ignored, W weighed, A accented, M marked, P positioned, C accent
// modifier). WEIGHT, ACCENT, CODE: bytes in hexadecimal, '-' for none; MARK: a digit, '-' for
// none. STEP: what the run's varying field rises by from one character to the next, read as a
// big-endian number: the CODE of positioned characters, else the WEIGHT. Lines starting with '#'
// are comments. Characters no line names are ignored.

#include <iosfwd>
#include <string>
#include <vector>

#include "data/format/Bytes.h"
#include "data/format/write/SortOrder.h"

namespace quorlin::jet {

struct TCharCode {
    TCharKind Kind = TCharKind::Ignored;
    std::uint8_t Mark = 0;
    TBytes Weight, Accent, Code;
    bool operator==(const TCharCode&) const = default;
};

// 0x10000 codes, one for each character of the Basic Multilingual Plane. Raises
// std::runtime_error naming the line for a file that does not read.
std::vector<TCharCode> ReadKeyCodes(const std::string& path);
void WriteKeyCodes(std::ostream& out, const std::vector<TCharCode>& codes);

// The codes in the form the program keeps them in.
struct TPackedTables {
    std::vector<TPackedCodes> Entries;
    std::vector<std::uint8_t> Bytes;
};
TPackedTables Pack(const std::vector<TCharCode>& codes);
// One character's entry, its bytes appended to bytes.
TPackedCodes Packed(const TCharCode& c, std::vector<std::uint8_t>& bytes);

// A sort order over packed codes it owns.
class TOwnedSortOrder {
public:
    explicit TOwnedSortOrder(const std::vector<TCharCode>& codes) : FTables(Pack(codes)) {}
    TSortOrder Order() const noexcept { return TSortOrder(FTables.Entries, FTables.Bytes); }
    // Gives c other codes.
    void Set(char16_t c, const TCharCode& codes) { FTables.Entries.at(c) = Packed(codes, FTables.Bytes); }

private:
    TPackedTables FTables;
};

}  // namespace quorlin::jet
