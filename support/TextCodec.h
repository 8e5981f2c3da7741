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

// Text as a database file stores it, to UTF-8: UTF-16 little-endian bytes, or bytes in a Windows
// code page (Access 97). What cannot be decoded becomes U+FFFD, so that a damaged value still
// reads; the converters are kept per thread, since a table may hold millions of values.
std::string Utf16LeToUtf8Lenient(std::string_view bytes);
std::string CodePageToUtf8Lenient(std::string_view bytes, unsigned codePage);

}  // namespace quorlin
