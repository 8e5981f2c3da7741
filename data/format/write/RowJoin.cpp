#include "data/format/write/RowJoin.h"

#include <algorithm>

#include "data/format/Bytes.h"
#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// what: the rest of the sentence, in the language spoken.
[[noreturn]] void BadRow(const TTableDef& def, const char* what)
{
    Damaged(quorlin::Format(Tr("a record of the table '%1$s' %2$s"), def.Name, what));
}

// The parts of a row that do not depend on its values.
struct TRowShape {
    std::size_t FixedSize = 0;
    std::size_t VarSlots = 0;
};

TRowShape ShapeOf(const TTableDef& def)
{
    TRowShape shape;
    for (const TColumnDef& col : def.Columns) {
        if (col.Type == TColumnType::Boolean) continue;  // kept in the null mask alone
        if (col.Fixed())
            shape.FixedSize = std::max<std::size_t>(shape.FixedSize, std::size_t{col.FixedOffset} + col.Length);
        else
            shape.VarSlots = std::max<std::size_t>(shape.VarSlots, std::size_t{col.VarIndex} + 1);
    }
    return shape;
}

// Jet 4: the values slot by slot, then their offsets from the end of data back to the first
// slot's, then their count.
void AppendVarPart(const TTableDef& def, const TRowFields& fields, std::size_t slots, TBytes& row)
{
    std::vector<std::size_t> offsets(slots + 1);
    for (std::size_t slot = 0; slot < slots; ++slot) {
        offsets[slot] = row.size();
        for (std::size_t i = 0; i < def.Columns.size(); ++i) {
            const TColumnDef& col = def.Columns[i];
            if (!col.Fixed() && col.VarIndex == slot && fields.Present[i])
                row.insert(row.end(), fields.Data[i].begin(), fields.Data[i].end());
        }
    }
    offsets[slots] = row.size();
    const auto append16 = [&](std::size_t v) {
        row.resize(row.size() + Jet4Format().RowNumberSize);
        Put16(row.data() + row.size() - Jet4Format().RowNumberSize, static_cast<std::uint32_t>(v));
    };
    for (std::size_t k = slots + 1; k-- > 0;) append16(offsets[k]);
    append16(slots);
}

}  // namespace

TBytes JoinRow(const TTableDef& def, const TRowFields& fields)
{
    const std::size_t numberSize = Jet4Format().RowNumberSize;
    const TRowShape shape = ShapeOf(def);
    TBytes row(numberSize + shape.FixedSize, 0);
    Put16(row.data(), def.MaxColumns);
    TBytes mask((def.MaxColumns + 7) / 8, 0);
    for (std::size_t i = 0; i < def.Columns.size(); ++i) {
        const TColumnDef& col = def.Columns[i];
        if (!fields.Present[i]) continue;
        mask[col.Number / 8] |= static_cast<std::uint8_t>(1u << (col.Number % 8));
        if (!col.Fixed() || col.Type == TColumnType::Boolean) continue;
        if (fields.Data[i].size() > col.Length) BadRow(def, Tr("holds a value longer than its field"));
        std::copy(fields.Data[i].begin(), fields.Data[i].end(), row.begin() + static_cast<std::ptrdiff_t>(numberSize + col.FixedOffset));
    }
    if (def.VarColumns > 0) AppendVarPart(def, fields, shape.VarSlots, row);  // as SplitRow expects it
    row.insert(row.end(), mask.begin(), mask.end());
    return row;
}

}  // namespace quorlin::jet
