#include "data/format/read/RowCodec.h"

#include <algorithm>
#include <string>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// Where a row's variable-length columns start and end: offsets[i] for column slot i, the end
// of the data last.
struct TVarTable {
    std::vector<std::size_t> Offsets;
    std::size_t DataEnd = 0;  // where the fixed and variable data stop and the tables begin
};

// what: the rest of the sentence, in the language spoken.
[[noreturn]] void BadRow(const TTableDef& def, const char* what)
{
    Damaged(quorlin::Format(Tr("a record of the table '%1$s' %2$s"), def.Name, what));
}

// Jet 4: two-byte offsets, from the end: the count, then the offsets last column first.
void ReadVarTable4(const TTableDef& def, TView row, std::size_t tableEnd, TVarTable& t)
{
    if (tableEnd < 4) BadRow(def, Tr("is too short for its variable-length part"));
    const std::size_t count = Get16(row.data() + tableEnd - 2);
    if (tableEnd < 4 + 2 * count) BadRow(def, Tr("claims more variable-length values than it holds"));
    t.Offsets.resize(count + 1);
    for (std::size_t i = 0; i <= count; ++i) t.Offsets[i] = Get16(row.data() + tableEnd - 4 - 2 * i);
    t.DataEnd = tableEnd - 4 - 2 * count;
}

// Jet 3: one-byte offsets, with a jump table naming the columns from which a further
// Jet3OffsetJump bytes are to be added; the last jump may be a dummy.
void ReadVarTable3(const TTableDef& def, TView row, std::size_t tableEnd, TVarTable& t)
{
    if (tableEnd < 2) BadRow(def, Tr("is too short for its variable-length part"));
    const std::size_t count = row[tableEnd - 1];
    std::size_t jumps = (row.size() - 1) / Jet3OffsetJump;
    if (tableEnd < 2 + jumps + count) BadRow(def, Tr("claims more variable-length values than it holds"));
    const std::size_t first = tableEnd - 2 - jumps;  // the offset of slot 0; later slots lie before it
    if ((first - count) / Jet3OffsetJump < jumps) --jumps;
    t.Offsets.resize(count + 1);
    std::size_t used = 0;
    for (std::size_t i = 0; i <= count; ++i) {
        while (used < jumps && row[tableEnd - 2 - used] == i) ++used;
        t.Offsets[i] = row[first - i] + Jet3OffsetJump * used;
    }
    t.DataEnd = first - count;
}

}  // namespace

void SplitRow(const TTableDef& def, const TFormat& format, TView row, TRowFields& fields)
{
    fields.Present.assign(def.Columns.size(), false);
    fields.Data.assign(def.Columns.size(), {});
    const std::size_t numberSize = format.RowNumberSize;
    if (row.size() < numberSize) BadRow(def, Tr("is empty"));
    const std::size_t stored = numberSize == 1 ? row[0] : Get16(row.data());
    if (stored > def.MaxColumns) BadRow(def, Tr("claims more fields than its table has"));
    const std::size_t maskSize = (stored + 7) / 8;
    if (row.size() < numberSize + maskSize) BadRow(def, Tr("is too short for its null mask"));
    const std::uint8_t* mask = row.data() + row.size() - maskSize;
    const std::size_t tableEnd = row.size() - maskSize;

    thread_local TVarTable var;
    var.Offsets.clear();
    var.DataEnd = tableEnd;
    if (def.VarColumns > 0) {
        if (format.Version == TVersion::Jet3)
            ReadVarTable3(def, row, tableEnd, var);
        else
            ReadVarTable4(def, row, tableEnd, var);
    }
    const std::size_t varCount = var.Offsets.empty() ? 0 : var.Offsets.size() - 1;
    for (std::size_t i = 0; i < def.Columns.size(); ++i) {
        const TColumnDef& col = def.Columns[i];
        if (col.Number >= stored) continue;  // added after this row was written
        const bool bit = (mask[col.Number / 8] >> (col.Number % 8)) & 1;
        if (col.Type == TColumnType::Boolean) {
            fields.Present[i] = bit;
            continue;
        }
        if (!bit) continue;
        std::size_t start = 0, end = 0;
        if (col.Fixed()) {
            start = numberSize + col.FixedOffset;
            end = start + col.Length;
        } else {
            if (col.VarIndex >= varCount) continue;
            start = var.Offsets[col.VarIndex];
            end = var.Offsets[col.VarIndex + 1];
        }
        if (start > end || end > var.DataEnd) BadRow(def, Tr("holds a value outside its bounds"));
        fields.Data[i] = row.subspan(start, end - start);
        fields.Present[i] = true;
    }
}

}  // namespace quorlin::jet
