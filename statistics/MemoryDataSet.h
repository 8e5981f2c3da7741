#pragma once
// A table held in memory: named fields and records of cells, each cell empty (NULL), a number
// or a text. Texts follow the data layer's rule for text fields: they are read as decimal
// numbers, and one that is no number fails when it is read, not when it is stored. A text is
// kept as it came besides its number, so that the table can be written out again unchanged.

#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "statistics/DataSet.h"

namespace quorlin {

using TCell = std::variant<std::monostate, double, std::string>;

class TMemoryDataSet : public TDataSet {
public:
    TMemoryDataSet() = default;
    explicit TMemoryDataSet(std::vector<std::string> fieldNames);

    // Names are kept as given; a name that differs from an earlier one only in letter case is
    // refused, since lookups ignore case. Returns the new field's index.
    std::int32_t AddField(std::string name);
    // One cell per field, in field order; the cursor goes to the first record.
    void AppendRecord(const std::vector<TCell>& cells);

    std::int32_t FieldCount() const noexcept { return static_cast<std::int32_t>(FNames.size()); }
    const std::string& FieldName(std::int32_t field) const { return FNames.at(static_cast<std::size_t>(field)); }
    const std::vector<std::string>& FieldNames() const noexcept { return FNames; }
    // A cell as it was appended, without moving the cursor (row is 0-based).
    TCell Cell(std::int32_t row, std::int32_t field) const;
    // -1 when no field has the name.
    std::int32_t FindField(std::string_view name) const noexcept;
    bool ControlsDisabled() const noexcept { return FDisableCount > 0; }

    std::int32_t RecordCount() const override { return FRecordCount; }
    std::int32_t RecNo() const override;
    void First() override;
    void Next() override;
    bool Eof() const override { return FEof; }
    std::int32_t MoveBy(std::int32_t distance) override;
    void DisableControls() override { ++FDisableCount; }
    void EnableControls() override;
    std::int32_t FieldByName(std::string_view name) const override;
    double AsFloat(std::int32_t field) const override;

private:
    // A text cell is a number or "bad" by its reading; either way its text is kept.
    enum class CellKind : unsigned char { Number, Null, Text, BadText };
    struct Column {
        std::vector<double> Values;
        std::vector<CellKind> Kinds;
        std::vector<std::string> Texts;  // by record; sized only once the column has a text
    };

    std::vector<std::string> FNames;
    std::unordered_map<std::string, std::int32_t> FFieldIndex;  // by FieldNameKey: lookups stay fast for wide tables
    std::vector<Column> FColumns;
    std::int32_t FRecordCount = 0;
    std::int32_t FCurrent = 0;  // 0-based
    bool FEof = true;
    std::int32_t FDisableCount = 0;
};

}  // namespace quorlin
