#include "support/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quorlin {

namespace {

template <typename T>
std::string_view ShortestOf(char (&buffer)[ShortestTextRoom], T value)
{
    const auto [end, ec] = std::fabs(value) < T(1e16)
                               ? std::to_chars(buffer, buffer + ShortestTextRoom, value, std::chars_format::fixed)
                               : std::to_chars(buffer, buffer + ShortestTextRoom, value);
    return ec == std::errc{} ? std::string_view(buffer, static_cast<std::size_t>(end - buffer)) : std::string_view();
}

}  // namespace

std::string_view ShortestTextIn(char (&buffer)[ShortestTextRoom], float value) { return ShortestOf(buffer, value); }
std::string_view ShortestTextIn(char (&buffer)[ShortestTextRoom], double value) { return ShortestOf(buffer, value); }

std::string ShortestText(float value)
{
    char buffer[ShortestTextRoom];
    return std::string(ShortestOf(buffer, value));
}

std::string ShortestText(double value)
{
    char buffer[ShortestTextRoom];
    return std::string(ShortestOf(buffer, value));
}

std::string FormatFloat(const char* format, double value)
{
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, format, value);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), format, value);
    big.resize(static_cast<std::size_t>(n));
    return big;
}

std::string FormatGeneral(double value) { return FormatFloat("%.15g", value); }

}  // namespace quorlin
