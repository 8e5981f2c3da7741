#include "statistics/MemoryDataSet.h"

#include <algorithm>

#include "support/Messages.h"

namespace quorlin {

TMemoryDataSet::TMemoryDataSet(std::vector<std::string> fieldNames)
{
    for (auto& name : fieldNames) AddField(std::move(name));
}

std::int32_t TMemoryDataSet::AddField(std::string name)
{
    if (!FFieldIndex.emplace(FieldNameKey(name), FieldCount()).second)
        throw EDatabaseError(Format(Tr("Duplicate field name '%1$s'"), EchoedText(name)));
    FNames.push_back(std::move(name));
    Column column;
    column.Values.assign(static_cast<std::size_t>(FRecordCount), 0.0);
    column.Kinds.assign(static_cast<std::size_t>(FRecordCount), CellKind::Null);
    FColumns.push_back(std::move(column));
    return FieldCount() - 1;
}

void TMemoryDataSet::AppendRecord(const std::vector<TCell>& cells)
{
    if (cells.size() != FColumns.size())
        throw EDatabaseError(Format(Tr("A record has %1$s values for %2$s fields"), cells.size(), FColumns.size()));
    for (std::size_t f = 0; f < cells.size(); ++f) {
        Column& column = FColumns[f];
        double value = 0.0;
        CellKind kind = CellKind::Number;
        if (std::holds_alternative<std::monostate>(cells[f])) {
            kind = CellKind::Null;
        } else if (const double* number = std::get_if<double>(&cells[f])) {
            value = *number;
        } else {
            const std::string& text = std::get<std::string>(cells[f]);
            kind = TryTextToFloat(text, value) ? CellKind::Text : CellKind::BadText;
            column.Texts.resize(static_cast<std::size_t>(FRecordCount) + 1);
            column.Texts.back() = text;
        }
        column.Values.push_back(value);
        column.Kinds.push_back(kind);
    }
    ++FRecordCount;
    First();
}

std::int32_t TMemoryDataSet::FindField(std::string_view name) const noexcept
{
    try {
        const auto it = FFieldIndex.find(FieldNameKey(name));
        return it == FFieldIndex.end() ? -1 : it->second;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::int32_t TMemoryDataSet::RecNo() const { return FRecordCount == 0 ? 0 : FCurrent + 1; }

void TMemoryDataSet::First()
{
    FCurrent = 0;
    FEof = FRecordCount == 0;
}

void TMemoryDataSet::Next()
{
    if (FCurrent + 1 < FRecordCount)
        ++FCurrent;
    else
        FEof = true;
}

std::int32_t TMemoryDataSet::MoveBy(std::int32_t distance)
{
    if (FRecordCount == 0 || distance == 0) return 0;
    const std::int64_t target = std::clamp<std::int64_t>(std::int64_t{FCurrent} + distance, 0, FRecordCount - 1);
    const auto moved = static_cast<std::int32_t>(target - FCurrent);
    // Running past the last record sets the end test, as moving next from it does.
    FEof = std::int64_t{FCurrent} + distance > FRecordCount - 1;
    FCurrent = static_cast<std::int32_t>(target);
    return moved;
}

void TMemoryDataSet::EnableControls()
{
    if (FDisableCount > 0) --FDisableCount;
}

std::int32_t TMemoryDataSet::FieldByName(std::string_view name) const
{
    const std::int32_t f = FindField(name);
    if (f < 0) throw EDatabaseError(Format(Tr("Field '%1$s' not found"), EchoedText(name)));
    return f;
}

double TMemoryDataSet::AsFloat(std::int32_t field) const
{
    if (field < 0 || field >= FieldCount() || FRecordCount == 0)
        throw EDatabaseError(Tr("No current record or no such field"));
    const Column& column = FColumns[static_cast<std::size_t>(field)];
    const auto k = static_cast<std::size_t>(FCurrent);
    switch (column.Kinds[k]) {
    case CellKind::Number:
    case CellKind::Text: return column.Values[k];
    case CellKind::Null: return 0.0;
    case CellKind::BadText: break;
    }
    throw EConvertError(InvalidFloatMessage(column.Texts[k]));
}

TCell TMemoryDataSet::Cell(std::int32_t row, std::int32_t field) const
{
    if (field < 0 || field >= FieldCount() || row < 0 || row >= FRecordCount)
        throw EDatabaseError(Tr("No such record or field"));
    const Column& column = FColumns[static_cast<std::size_t>(field)];
    const auto k = static_cast<std::size_t>(row);
    switch (column.Kinds[k]) {
    case CellKind::Number: return column.Values[k];
    case CellKind::Null: return std::monostate{};
    case CellKind::Text:
    case CellKind::BadText: break;
    }
    return column.Texts[k];
}

}  // namespace quorlin
