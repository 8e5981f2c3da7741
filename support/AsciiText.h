#pragma once
// Blanks and letter case of ASCII only, whatever the C library's locale: names and keywords
// compare alike on every system, and the bytes of UTF-8 text are never taken for letters.

#include <string>
#include <string_view>

namespace quorlin {

// Without the leading and trailing space, tab, CR, LF, vertical tab and form feed.
std::string_view Trim(std::string_view text) noexcept;

char LowerAscii(char c) noexcept;
std::string LowerAscii(std::string_view text);

bool EqualIgnoringCase(std::string_view a, std::string_view b) noexcept;

// Text from a file or a command line, fit to be quoted in a message: cut to about 60
// characters with "…", control characters (NUL included) shown as \xNN.
std::string EchoedText(std::string_view text);

}  // namespace quorlin
