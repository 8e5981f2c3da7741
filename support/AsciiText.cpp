#include "AsciiText.h"

#include <algorithm>

namespace quorlin {

namespace {

constexpr std::string_view Blanks = " \t\r\n\v\f";

}  // namespace

std::string_view Trim(std::string_view text) noexcept
{
    const std::size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered) c = LowerAscii(c);
    return lowered;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    return std::ranges::equal(a, b, [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

}  // namespace quorlin
