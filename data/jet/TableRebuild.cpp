#include "TableRebuild.h"

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include "Damage.h"
#include "FreePageMap.h"
#include "IndexWriter.h"
#include "LongValue.h"
#include "LongValueWriter.h"
#include "TableLayout.h"
#include "UsageMap.h"
#include "UsageMapWriter.h"
#include "WritableTable.h"

namespace quorlin::jet {

namespace {

// The stored bytes of each record, in the file as it was loaded: the pages of the image are
// rewritten while they are still needed.
std::vector<TView> StoredRecords(const TPageImage& image, const TTableDef& def, std::size_t recordsRead)
{
    const TPages loaded = image.LoadedPages();
    const std::vector<TRecordPlace> places = RecordsInPlace(loaded, def);
    if (places.size() != recordsRead)
        Refused("The table '" + def.Name + "' does not read the same way through every path; it cannot be changed safely.");
    std::vector<TView> rows;
    rows.reserve(places.size() + 1);
    for (const TRecordPlace& place : places) rows.push_back(place.Row);
    return rows;
}

void CheckRecordNumber(const TTableDef& def, const TTableChange& change, std::size_t records)
{
    if (change.Kind == TChangeKind::Insert) return;
    if (change.Record < 0 || static_cast<std::size_t>(change.Record) >= records)
        Refused("The table '" + def.Name + "' has no record " + std::to_string(change.Record + 1) + ".");
}

void AssignAutoNumbers(TTableDef& def, TTableChange& change)
{
    for (std::size_t c = 0; c < def.Columns.size(); ++c) {
        const TColumnDef& col = def.Columns[c];
        if (col.AutoGuid())
            Refused("The table '" + def.Name + "' numbers its records with replication IDs, which this program cannot assign.");
        if (!col.AutoLong()) continue;
        if (def.AutoNumber >= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
            Refused("The AutoNumber field '" + col.Name + "' has no values left.");
        TParsedValue& v = change.Values[c].emplace();
        v.Present = true;
        v.Kind = TCellKind::Number;
        v.Number = ++def.AutoNumber;
        v.Data.resize(sizeof(std::uint32_t));
        Put32(v.Data.data(), def.AutoNumber);
    }
}

TRowFields BlankFields(const TTableDef& def)
{
    TRowFields fields;
    fields.Present.assign(def.Columns.size(), false);
    fields.Data.assign(def.Columns.size(), {});
    return fields;
}

bool HoldsLongValues(const TColumnDef& col) noexcept { return col.Type == TColumnType::Memo || col.Type == TColumnType::Ole; }

// The first long-value rows of the values of every record but one.
std::set<std::uint32_t> LongValuesOfOthers(const TTableDef& def, const TFormat& format, const std::vector<TView>& rows,
                                           std::size_t except)
{
    std::set<std::uint32_t> first;
    TRowFields fields;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r == except) continue;
        SplitRow(def, format, rows[r], fields);
        for (std::size_t c = 0; c < def.Columns.size(); ++c)
            if (HoldsLongValues(def.Columns[c]) && fields.Present[c])
                if (const std::uint32_t row = FirstLongValueRow(fields.Data[c])) first.insert(row);
    }
    return first;
}

// The long values the change replaces, or those of the record it deletes.
void FreeLongValues(TLongValueWriter& writer, const TTableDef& def, const TFormat& format, const TTableChange& change,
                    const std::vector<TView>& rows)
{
    const auto record = static_cast<std::size_t>(change.Record);
    TRowFields old;
    SplitRow(def, format, rows[record], old);
    std::set<std::uint32_t> shared;
    bool sharedKnown = false;
    for (std::size_t c = 0; c < def.Columns.size(); ++c) {
        const bool replaced = change.Kind == TChangeKind::Delete || change.Values[c].has_value();
        if (!HoldsLongValues(def.Columns[c]) || !old.Present[c] || !replaced) continue;
        if (!std::exchange(sharedKnown, true)) shared = LongValuesOfOthers(def, format, rows, record);
        writer.Free(old.Data[c], shared, def.Columns[c].Name);
    }
}

// Frees the long values the change no longer needs and writes those it stores; returns, by
// column, the bytes the row keeps for each value written.
std::vector<TBytes> WriteLongValues(TLongValueWriter& writer, const TPageImage& image, const TTableDef& def,
                                    const TTableChange& change, const std::vector<TView>& rows)
{
    std::vector<TBytes> stored(def.Columns.size());
    if (std::none_of(def.Columns.begin(), def.Columns.end(), HoldsLongValues)) return stored;
    if (change.Kind != TChangeKind::Insert) FreeLongValues(writer, def, image.Format(), change, rows);
    if (change.Kind == TChangeKind::Delete) return stored;
    for (std::size_t c = 0; c < def.Columns.size(); ++c) {
        if (!HoldsLongValues(def.Columns[c]) || !change.Values[c] || !change.Values[c]->Present) continue;
        const TBytes& value = change.Values[c]->Data;
        stored[c] = writer.Store(value);
        if (ReadLongValue(image.Pages(), stored[c]) != value)
            Refused("The value of the field '" + def.Columns[c].Name + "' could not be stored so that it reads back; nothing was written.");
    }
    return stored;
}

// The fields of the changed record; they view the change's values and the long values' row
// bytes, which outlive them.
TRowFields ChangedFields(const TTableDef& def, const TFormat& format, const TTableChange& change,
                         const std::vector<TBytes>& longValues, const TView* stored)
{
    TRowFields fields = BlankFields(def);
    if (stored) SplitRow(def, format, *stored, fields);
    for (std::size_t c = 0; c < change.Values.size(); ++c) {
        if (!change.Values[c]) continue;
        fields.Present[c] = change.Values[c]->Present;
        fields.Data[c] = HoldsLongValues(def.Columns[c]) ? TView(longValues[c]) : TView(change.Values[c]->Data);
    }
    return fields;
}

void CheckChangedRecord(const TTableDef& def, const TFormat& format, const TRowFields& fields, const TBytes& row)
{
    if (row.size() + format.DataRowOffsets + RowOffsetSize > format.PageSize)
        Refused("The record is too long for a page of the table '" + def.Name + "'.");
    for (const TRealIndex& index : def.Indexes) {
        if (!index.Primary) continue;
        for (const TIndexColumn& ic : index.Columns)
            if (!fields.Present[ic.Column])
                Refused("The field '" + def.Columns[ic.Column].Name + "' belongs to the primary key '" + index.Name +
                        "' and cannot be empty.");
    }
}

// Records are kept as their stored bytes; only the changed one is taken apart and put together
// again, in changed, which rows then views.
void ApplyChange(const TTableDef& def, const TFormat& format, const TTableChange& change,
                 const std::vector<TBytes>& longValues, std::vector<TView>& rows, TBytes& changed)
{
    const auto record = static_cast<std::size_t>(change.Record);
    if (change.Kind == TChangeKind::Delete) {
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(record));
        return;
    }
    const bool update = change.Kind == TChangeKind::Update;
    const TRowFields fields = ChangedFields(def, format, change, longValues, update ? &rows[record] : nullptr);
    changed = JoinRow(def, fields);
    if (update)
        rows[record] = changed;
    else
        rows.push_back(changed);
    CheckChangedRecord(def, format, fields, changed);
}

// Each record taken apart for the index keys, when there are indexes.
std::vector<TRowFields> IndexedFields(const TTableDef& def, const TFormat& format, const std::vector<TView>& rows)
{
    std::vector<TRowFields> fields;
    if (def.Indexes.empty()) return fields;
    fields.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) SplitRow(def, format, rows[i], fields[i]);
    return fields;
}

std::set<std::uint32_t> MapPages(const TPageImage& image, TRowId map)
{
    const std::vector<std::uint32_t> pages = ReadUsageMap(image.Pages(), map);
    return std::set<std::uint32_t>(pages.begin(), pages.end());
}

// The table's map of its pages, and of those with room for a record.
TPageChanges UpdateTableMaps(TPageImage& image, const TTableDef& def, const std::vector<std::uint32_t>& ownedBefore,
                             const TLayout& layout)
{
    TPageChanges pages{layout.NewPages, layout.Emptied};
    std::set<std::uint32_t> owned(ownedBefore.begin(), ownedBefore.end());
    owned.insert(layout.NewPages.begin(), layout.NewPages.end());
    for (std::uint32_t p : layout.Emptied) owned.erase(p);
    const std::vector<std::uint32_t> ownedMapPages = StoreUsageMap(image, def.OwnedPages, owned);

    std::set<std::uint32_t> room = MapPages(image, def.FreePages);
    for (std::uint32_t p : layout.DataPages) room.erase(p);
    room.insert(layout.PagesWithRoom.begin(), layout.PagesWithRoom.end());
    for (std::uint32_t p : layout.Emptied) room.erase(p);
    const std::vector<std::uint32_t> roomMapPages = StoreUsageMap(image, def.FreePages, room);

    pages.Added.insert(pages.Added.end(), ownedMapPages.begin(), ownedMapPages.end());
    pages.Added.insert(pages.Added.end(), roomMapPages.begin(), roomMapPages.end());
    return pages;
}

void WriteCounts(TPageImage& image, const TTableDef& def, std::size_t records)
{
    const TFormat& f = image.Format();
    std::uint8_t* tdef = image.Page(def.Page);
    Put32(tdef + f.TdefRowCount, static_cast<std::uint32_t>(records));
    Put32(tdef + f.TdefAutoNumber, def.AutoNumber);
}

// Every record's long values read whole.
void ReadLongValues(const TPages& pages, const TTableDef& def, const std::vector<TRecordPlace>& places)
{
    if (std::none_of(def.Columns.begin(), def.Columns.end(), HoldsLongValues)) return;
    TRowFields fields;
    for (const TRecordPlace& place : places) {
        SplitRow(def, pages.Format(), place.Row, fields);
        for (std::size_t c = 0; c < def.Columns.size(); ++c)
            if (HoldsLongValues(def.Columns[c]) && fields.Present[c]) ReadLongValue(pages, fields.Data[c]);
    }
}

// The new state must hold together on its own before it goes anywhere near the disk.
void CheckRebuilt(const TPageImage& image, const TTableDef& def, std::size_t records)
{
    const TTableDef rebuilt = ReadTableDef(image.Pages(), def.Page, def.Name, 0);
    bool consistent = rebuilt.RowCount == records;
    try {
        const std::vector<TRecordPlace> places = RecordsInPlace(image.Pages(), rebuilt);
        consistent = consistent && places.size() == records;
        ReadLongValues(image.Pages(), rebuilt, places);
    } catch (const EDamaged&) {
        consistent = false;
    }
    if (!consistent)
        Refused("The change to the table '" + def.Name + "' could not be laid out consistently; nothing was written.");
}

}  // namespace

void RebuildTable(TPageImage& image, TTableDef& def, TTableChange& change, std::size_t recordsRead)
{
    const TFormat& format = image.Format();
    const std::vector<std::uint32_t> owned = ReadUsageMap(image.Pages(), def.OwnedPages);
    std::vector<TView> rows = StoredRecords(image, def, recordsRead);
    CheckRecordNumber(def, change, rows.size());
    if (change.Kind == TChangeKind::Insert) AssignAutoNumbers(def, change);
    std::set<std::uint32_t> mapped = MapPages(image, def.FreePages);
    mapped.insert(owned.begin(), owned.end());
    TLongValueWriter longValueWriter(image, std::move(mapped));
    const std::vector<TBytes> longValues = WriteLongValues(longValueWriter, image, def, change, rows);
    TBytes changed;
    ApplyChange(def, format, change, longValues, rows, changed);
    const std::vector<TRowFields> fields = IndexedFields(def, format, rows);

    const TLayout layout = LayOutRows(image, def, owned, rows, JoinRow(def, BlankFields(def)).size());
    TPageChanges pages = UpdateTableMaps(image, def, owned, layout);
    const TPageChanges& longValuePages = longValueWriter.Pages();
    pages.Added.insert(pages.Added.end(), longValuePages.Added.begin(), longValuePages.Added.end());
    pages.Freed.insert(pages.Freed.end(), longValuePages.Freed.begin(), longValuePages.Freed.end());
    for (const TRealIndex& index : def.Indexes) RebuildIndex(image, def, index, fields, layout.Places, pages);
    WriteCounts(image, def, rows.size());
    MarkPagesInUse(image, pages.Added, true);
    MarkPagesInUse(image, pages.Freed, false);
    CheckRebuilt(image, def, rows.size());
}

}  // namespace quorlin::jet
