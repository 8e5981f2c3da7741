#pragma once
// The data layer's reading of text as a number, which the file format's parser, the statistics
// and the CSV reader share: a value typed as "12.5" means the same number wherever it is read.

#include <stdexcept>
#include <string>
#include <string_view>

namespace quorlin {

// A text that does not read as a number, or a field that has no numeric reading.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "." as the decimal point, surrounding blanks ignored, an optional sign and exponent. Anything
// else, and a number beyond the range of a 64-bit float, raises EConvertError "'<text>' is not a
// valid floating point value".
double TextToFloat(std::string_view text);
// The same, without raising: false when the text is no number.
bool TryTextToFloat(std::string_view text, double& value) noexcept;
std::string InvalidFloatMessage(std::string_view text);

}  // namespace quorlin
