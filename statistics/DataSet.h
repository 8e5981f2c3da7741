#pragma once
// The record source the statistics read: a cursor over records with named fields whose
// values can be read as 64-bit floats. An in-memory table implements it for tests and the
// batch command; the Access table query implements it for the desktop program.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/AsciiText.h"
#include "values/FieldName.h"
#include "values/TextNumber.h"

namespace quorlin {

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

}  // namespace quorlin
