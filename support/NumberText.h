#pragma once
// Numbers as the shortest texts that read back as exactly the stored value. The export and
// the grid both use them, so that what a forecaster sees is what the file holds, digit for digit.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorlin {

// Fixed notation of the smallest subnormal double takes some 330 characters.
constexpr std::size_t ShortestTextRoom = 400;

// Fixed notation with "." for magnitudes below 1e16 (1950, not 1950.0 or 1.95e3), an exponent
// only beyond. Written into the buffer, so that long exports build no string per value.
std::string_view ShortestTextIn(char (&buffer)[ShortestTextRoom], float value);
std::string_view ShortestTextIn(char (&buffer)[ShortestTextRoom], double value);

std::string ShortestText(float value);
std::string ShortestText(double value);

// printf-style formatting of one number (the formats of the equation text and the report).
std::string FormatFloat(const char* format, double value);
// The general format of the removal notice and of numbers shown as text: up to 15 significant
// digits.
std::string FormatGeneral(double value);

}  // namespace quorlin
