#include "data/editing/ReadBack.h"

#include <cmath>
#include <cstring>

#include "data/records/ProviderError.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

bool SameCell(const TColumnData& a, std::size_t i, const TColumnData& b, std::size_t j)
{
    if (a.Kinds[i] != b.Kinds[j]) return false;
    if (a.Kinds[i] == TCellKind::Text) return a.Texts[i] == b.Texts[j];
    if (a.Kinds[i] == TCellKind::Null) return true;
    const double x = a.Numbers[i], y = b.Numbers[j];
    if (a.Info.Type == TColumnType::Currency) return std::fabs(x - y) <= 1e-15 * std::fabs(x);
    return x == y || (std::isnan(x) && std::isnan(y));
}

// Whether count cells of a from i on are, one by one, the same as b's from j on. A table holds
// millions of cells: cells whose kinds and numbers are the same bytes are the same cells unless
// they hold text, so a run without text that is equal as memory needs no look at its cells.
bool SameCells(const TColumnData& a, std::size_t i, const TColumnData& b, std::size_t j, std::size_t count)
{
    if (count == 0) return true;
    const bool sameBytes = std::memcmp(a.Kinds.data() + i, b.Kinds.data() + j, count * sizeof(TCellKind)) == 0 &&
                           std::memcmp(a.Numbers.data() + i, b.Numbers.data() + j, count * sizeof(double)) == 0;
    if (sameBytes && a.Texts.empty() && b.Texts.empty()) return true;
    for (std::size_t k = 0; k < count; ++k)
        if (!SameCell(a, i + k, b, j + k)) return false;
    return true;
}

bool SameAsStored(const TColumnData& a, std::size_t r, const TCellValue& v)
{
    if (a.Kinds[r] != v.Kind) return false;
    if (v.Kind == TCellKind::Text) return a.Texts[r] == v.Text;
    if (v.Kind == TCellKind::Number) return a.Numbers[r] == v.Number || std::fabs(a.Numbers[r] - v.Number) <= 1e-15 * std::fabs(v.Number);
    return true;
}

// A field a new record leaves out reads blank, a Yes/No field No.
bool LeftOut(const TColumnData& a, std::size_t r)
{
    return a.Info.Type == TColumnType::Boolean ? a.Numbers[r] == 0.0 : a.Kinds[r] == TCellKind::Null;
}

// The first record of a run of count records left as they were whose field differs, if any.
std::optional<std::size_t> FirstDifference(const TColumnData& before, std::size_t b, const TColumnData& after, std::size_t a,
                                           std::size_t count)
{
    if (SameCells(before, b, after, a, count)) return std::nullopt;
    for (std::size_t k = 0; k < count; ++k)
        if (!SameCell(before, b + k, after, a + k)) return k;
    return std::nullopt;
}

[[noreturn]] void ReadBackFailed(const TMeant& meant, const std::string& what)
{
    throw EProviderError(Format(Tr("The table '%1$s' did not read back as it was written (%2$s)."), meant.Table, what));
}

[[noreturn]] void ReadBackFailed(const TMeant& meant, const TTableData& after, std::size_t c, std::size_t r)
{
    ReadBackFailed(meant, Format(Tr("field '%1$s' of record %2$s"), after.Columns[c].Info.Name, r + 1));
}

void CheckShape(const TMeant& meant, const TTableData& after)
{
    const TTableData& before = *meant.Before;
    const TMeantChanges& changes = meant.Changes;
    const std::size_t expected = static_cast<std::size_t>(before.RecordCount) - changes.Deletes.size() + changes.Inserts.size();
    if (static_cast<std::size_t>(after.RecordCount) != expected || after.Columns.size() != before.Columns.size())
        ReadBackFailed(meant, Tr("record count"));
    for (std::size_t c = 0; c < after.Columns.size(); ++c)
        if (after.Columns[c].Info.Name != before.Columns[c].Info.Name) ReadBackFailed(meant, Tr("columns"));
}

// Record r after the change holds values, and elsewhere what record old held before (a new
// record: blanks).
void CheckChangedRecord(const TMeant& meant, const TTableData& after, std::size_t r, const TMeantValues& values,
                        std::optional<std::size_t> old)
{
    for (std::size_t c = 0; c < after.Columns.size(); ++c) {
        const TColumnData& a = after.Columns[c];
        const auto& value = values[meant.DefColumn[c]];
        const bool same = value ? SameAsStored(a, r, *value) : old ? SameCell(meant.Before->Columns[c], *old, a, r) : LeftOut(a, r);
        if (!same) ReadBackFailed(meant, after, c, r);
    }
}

}  // namespace

bool SameTable(const TTableData& a, const TTableData& b)
{
    if (a.RecordCount != b.RecordCount || a.Columns.size() != b.Columns.size()) return false;
    for (std::size_t c = 0; c < a.Columns.size(); ++c) {
        if (a.Columns[c].Info.Name != b.Columns[c].Info.Name) return false;
        if (!SameCells(a.Columns[c], 0, b.Columns[c], 0, static_cast<std::size_t>(a.RecordCount))) return false;
    }
    return true;
}

// The records between changed ones are compared as runs.
void CheckReadBack(const TMeant& meant, const TTableData& after)
{
    CheckShape(meant, after);
    const TTableData& before = *meant.Before;
    const TMeantChanges& changes = meant.Changes;
    const auto records = static_cast<std::size_t>(before.RecordCount);
    std::set<std::size_t> changed(changes.Deletes.begin(), changes.Deletes.end());
    for (const auto& update : changes.Updates) changed.insert(update.first);
    changed.insert(records);
    std::size_t b = 0, r = 0;  // the next record before, and after
    for (const std::size_t next : changed) {
        for (std::size_t c = 0; c < after.Columns.size(); ++c)
            if (const auto k = FirstDifference(before.Columns[c], b, after.Columns[c], r, next - b)) ReadBackFailed(meant, after, c, r + *k);
        r += next - b;
        b = next + 1;
        if (next == records || changes.Deletes.count(next)) continue;
        CheckChangedRecord(meant, after, r++, changes.Updates.at(next), next);
    }
    for (const TMeantValues& values : changes.Inserts) CheckChangedRecord(meant, after, r++, values, std::nullopt);
}

}  // namespace quorlin
