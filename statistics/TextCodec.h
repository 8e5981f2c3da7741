#pragma once
// Conversion of the program's UTF-8 text into code page 936, the code page the report is
// written in.

#include <string>
#include <string_view>

namespace quorlin {

// Every character code page 936 cannot hold (and every byte that is not valid UTF-8) becomes "?".
std::string Utf8ToCp936(std::string_view utf8);

}  // namespace quorlin
