#pragma once
// The record source the statistics read: a cursor over records with named fields whose
// values can be read as 64-bit floats. An in-memory table implements it for tests and the
// batch command; the Access table query implements it for the desktop program.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorlin {

// A text that does not read as a number, or a field that has no numeric reading.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure of the data layer itself, such as a name that is no field.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TDataSet {
public:
    virtual ~TDataSet() = default;

    virtual std::int32_t RecordCount() const = 0;
    // 1-based number of the current record.
    virtual std::int32_t RecNo() const = 0;
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual bool Eof() const = 0;
    // Moves forward (or back, for a negative distance) and returns the distance moved.
    virtual std::int32_t MoveBy(std::int32_t distance) = 0;
    // Data-aware controls stop following the cursor until the matching EnableControls.
    virtual void DisableControls() = 0;
    virtual void EnableControls() = 0;
    // Looks a field up by name (letter case ignored); raises EDatabaseError when none has it.
    virtual std::int32_t FieldByName(std::string_view name) const = 0;
    // The value of a field of the current record as a 64-bit float, by the data layer's rule.
    virtual double AsFloat(std::int32_t field) const = 0;
};

// The data layer's reading of text as a number: "." as the decimal point, surrounding blanks
// ignored, an optional sign and exponent. Anything else, and a number beyond the range of a
// 64-bit float, raises EConvertError "'<text>' is not a valid floating point value".
double TextToFloat(std::string_view text);
// The same, without raising: false when the text is no number.
bool TryTextToFloat(std::string_view text, double& value) noexcept;
// Text from a file or a command line, fit to be quoted in a message: cut to about 60
// characters with "…", control characters (NUL included) shown as \xNN.
std::string EchoedText(std::string_view text);
std::string InvalidFloatMessage(std::string_view text);

// Letter case ignored for ASCII letters, as field lookup does.
bool SameFieldName(std::string_view a, std::string_view b) noexcept;
// The key under which SameFieldName finds a name: equal keys for names it takes as the same.
std::string FieldNameKey(std::string_view name);

}  // namespace quorlin
