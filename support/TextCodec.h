#pragma once
// Conversion of the program's UTF-8 text into code page 936, the code page the report is
// written in, and into the UTF-16 of database files.

#include <string>
#include <string_view>

namespace quorlin {

// Every character code page 936 cannot hold (and every byte that is not valid UTF-8) becomes "?".
std::string Utf8ToCp936(std::string_view utf8);

// UTF-8 to UTF-16 (little-endian code units, as Access files keep text) and back; raises
// std::invalid_argument on a byte sequence that is not valid in the source encoding.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace quorlin
