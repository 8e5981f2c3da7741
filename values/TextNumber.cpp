#include "values/TextNumber.h"

#include <charconv>
#include <cmath>

#include "support/AsciiText.h"

namespace quorlin {

namespace {

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

}  // namespace

bool TryTextToFloat(std::string_view text, double& value) noexcept
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (text.empty()) return false;

    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Only decimal notation: no "inf", "nan", hexadecimal or second sign.
    if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) return false;
    bool hasDigit = false;
    for (char c : text) {
        if (IsDigit(c)) {
            hasDigit = true;
            break;
        }
        if (c != '.') break;
    }
    if (!hasDigit) return false;

    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    if (end != text.data() + text.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        // Beyond double's range: a number too small reads as the nearest value (0 or a
        // subnormal), a number too large is no number. The wider type tells which it was.
        long double wide = 0.0L;
        const auto [wend, wec] = std::from_chars(text.data(), text.data() + text.size(), wide);
        if (wec == std::errc{} && wend == end) {
            if (!(std::fabs(wide) < 1.0L)) return false;
            v = static_cast<double>(wide);
        } else {
            const auto e = text.find_first_of("eE");
            if (e == std::string_view::npos || e + 1 >= text.size() || text[e + 1] != '-') return false;
            v = 0.0;
        }
    } else if (ec != std::errc{}) {
        return false;
    }
    if (!std::isfinite(v)) return false;
    value = negative ? -v : v;
    return true;
}

std::string InvalidFloatMessage(std::string_view text)
{
    return "'" + EchoedText(text) + "' is not a valid floating point value";
}

double TextToFloat(std::string_view text)
{
    double v = 0.0;
    if (!TryTextToFloat(text, v)) throw EConvertError(InvalidFloatMessage(text));
    return v;
}

}  // namespace quorlin
