#include "support/AsciiText.h"

#include <cstdio>

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

std::string EchoedText(std::string_view text)
{
    constexpr std::size_t Shown = 60;  // characters
    std::string out;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool starts = (c & 0xC0) != 0x80;  // not a UTF-8 continuation byte
        if (starts && characters++ == Shown) return out + "\u2026";
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace quorlin
