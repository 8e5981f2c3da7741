#include "data/format/write/TableRebuild.h"
#include "data/format/write/RowJoin.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "data/format/Damage.h"
#include "data/format/write/FreePageMap.h"
#include "data/format/write/IndexWriter.h"
#include "data/format/write/KeptKeys.h"
#include "data/format/read/LongValue.h"
#include "data/format/write/LongValueWriter.h"
#include "data/format/write/TableLayout.h"
#include "data/format/read/UsageMap.h"
#include "data/format/write/UsageMapWriter.h"
#include "data/format/write/WritableTable.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// Where each record is stored, in the file as it was loaded: the pages of the image are
// rewritten while the records are still needed. A record Access moved is taken from where it
// moved to; laid out anew, it is back in one row, and the pointer and the old copy are gone
// (fact 4).
std::vector<TRecordPlace> StoredPlaces(const TPageImage& image, const TTableDef& def, std::size_t recordsRead)
{
    std::vector<TRecordPlace> places = RecordPlaces(image.LoadedPages(), def);
    if (places.size() != recordsRead)
        Refused(quorlin::Format(Tr("The table '%1$s' does not read the same way through every path; it cannot be changed safely."),
                                def.Name));
    return places;
}

std::vector<TView> RowsOf(const std::vector<TRecordPlace>& places)
{
    std::vector<TView> rows;
    rows.reserve(places.size() + 1);
    for (const TRecordPlace& place : places) rows.push_back(place.Row);
    return rows;
}

[[noreturn]] void NoSuchRecord(const TTableDef& def, std::size_t record)
{
    Refused(quorlin::Format(Tr("The table '%1$s' has no record %2$s."), def.Name, record + 1));
}

void CheckRecordNumbers(const TTableDef& def, const TTableChanges& changes, std::size_t records)
{
    for (const auto& update : changes.Updates)
        if (update.first >= records) NoSuchRecord(def, update.first);
    for (std::size_t record : changes.Deletes)
        if (record >= records) NoSuchRecord(def, record);
}

TRowFields BlankFields(const TTableDef& def)
{
    TRowFields fields;
    fields.Present.assign(def.Columns.size(), false);
    fields.Data.assign(def.Columns.size(), {});
    return fields;
}

bool HoldsLongValues(const TColumnDef& col) noexcept { return col.Type == TColumnType::Memo || col.Type == TColumnType::Ole; }

// The first long-value rows that more than one field of the table's records refer to.
std::set<std::uint32_t> SharedLongValues(const TTableDef& def, const TFormat& format, const std::vector<TView>& rows)
{
    std::set<std::uint32_t> seen, shared;
    TRowFields fields;
    for (const TView& row : rows) {
        SplitRow(def, format, row, fields);
        for (std::size_t c = 0; c < def.Columns.size(); ++c)
            if (HoldsLongValues(def.Columns[c]) && fields.Present[c])
                if (const std::uint32_t first = FirstLongValueRow(fields.Data[c]); first && !seen.insert(first).second)
                    shared.insert(first);
    }
    return shared;
}

// The long values the changes replace, and those of the records they delete.
void FreeLongValues(TLongValueWriter& writer, const TTableDef& def, const TFormat& format, const TTableChanges& changes,
                    const std::vector<TView>& rows)
{
    if (std::none_of(def.Columns.begin(), def.Columns.end(), HoldsLongValues)) return;
    if (changes.Deletes.empty() && changes.Updates.empty()) return;
    const std::set<std::uint32_t> shared = SharedLongValues(def, format, rows);
    TRowFields old;
    const auto free = [&](std::size_t record, const TFieldValues* replacing) {
        SplitRow(def, format, rows[record], old);
        for (std::size_t c = 0; c < def.Columns.size(); ++c)
            if (HoldsLongValues(def.Columns[c]) && old.Present[c] && (!replacing || (*replacing)[c]))
                writer.Free(old.Data[c], shared, def.Columns[c].Name);
    };
    for (std::size_t record : changes.Deletes) free(record, nullptr);
    for (const auto& [record, values] : changes.Updates)
        if (!changes.Deletes.count(record)) free(record, &values);
}

// The bytes the row keeps for each long value stored, by column.
std::vector<TBytes> StoreLongValues(TLongValueWriter& writer, const TPageImage& image, const TTableDef& def,
                                    const TFieldValues& values)
{
    std::vector<TBytes> stored(def.Columns.size());
    for (std::size_t c = 0; c < def.Columns.size(); ++c) {
        if (!HoldsLongValues(def.Columns[c]) || !values[c] || !values[c]->Present) continue;
        stored[c] = writer.Store(values[c]->Data);
        if (ReadLongValue(image.Pages(), stored[c]) != values[c]->Data)
            Refused(quorlin::Format(Tr("The value of the field '%1$s' could not be stored so that it reads back; nothing was "
                                       "written."),
                                    def.Columns[c].Name));
    }
    return stored;
}

// The fields of a changed record; they view the values and the long values' row bytes, which
// outlive them.
TRowFields ChangedFields(const TTableDef& def, const TFormat& format, const TFieldValues& values,
                         const std::vector<TBytes>& longValues, const TView* stored)
{
    TRowFields fields = FieldsWith(def, format, stored, values);
    for (std::size_t c = 0; c < values.size(); ++c)
        if (values[c] && HoldsLongValues(def.Columns[c])) fields.Data[c] = longValues[c];  // the row keeps the reference
    return fields;
}

void CheckChangedRecord(const TTableDef& def, const TFormat& format, const TRowFields& fields, const TBytes& row)
{
    if (row.size() + format.DataRowOffsets + RowOffsetSize > format.PageSize)
        Refused(quorlin::Format(Tr("The record is too long for a page of the table '%1$s'."), def.Name));
    for (const TRealIndex& index : def.Indexes) {
        if (!index.Primary) continue;
        for (const TIndexColumn& ic : index.Columns)
            if (!fields.Present[ic.Column])
                Refused(quorlin::Format(Tr("The field '%1$s' belongs to the primary key '%2$s' and cannot be empty."),
                                        def.Columns[ic.Column].Name, index.Name));
    }
}

// The records after the changes, in order. Unchanged records are kept as their stored bytes;
// the changed ones are put together again in changed, which the rows then view.
std::vector<TView> ChangedRows(TLongValueWriter& writer, const TPageImage& image, const TTableDef& def,
                               const TTableChanges& changes, const std::vector<TView>& stored, std::deque<TBytes>& changed)
{
    std::vector<TView> rows;
    rows.reserve(stored.size() + changes.Inserts.size());
    const auto join = [&](const TView* old, const TFieldValues& values) {
        const std::vector<TBytes> longValues = StoreLongValues(writer, image, def, values);
        const TRowFields fields = ChangedFields(def, image.Format(), values, longValues, old);
        changed.push_back(JoinRow(def, fields));
        CheckChangedRecord(def, image.Format(), fields, changed.back());
        rows.push_back(changed.back());
    };
    for (std::size_t r = 0; r < stored.size(); ++r) {
        if (changes.Deletes.count(r)) continue;
        if (const auto update = changes.Updates.find(r); update != changes.Updates.end())
            join(&stored[r], update->second);
        else
            rows.push_back(stored[r]);
    }
    for (const TFieldValues& values : changes.Inserts) join(nullptr, values);
    return rows;
}

// Whether no updated record has a key of any index other than it had (those whose keys are kept
// as written were checked unchanged before).
bool KeysKept(const TTableDef& def, const TFormat& format, const TTableChanges& changes, const std::vector<TView>& stored,
              const std::vector<TView>& rows)
{
    TRowFields before, after;
    for (const auto& update : changes.Updates) {
        SplitRow(def, format, stored[update.first], before);
        SplitRow(def, format, rows[update.first], after);
        for (const TRealIndex& index : def.Indexes)
            if (!KeepsWrittenKeys(def, index) && IndexKeyOf(def, index, before) != IndexKeyOf(def, index, after)) return false;
    }
    return true;
}

// The records on each of pages, in slot order, when they are all the page holds and none was
// moved: such a page can be laid out anew with each record keeping its row pointer.
std::optional<std::map<std::uint32_t, std::vector<std::size_t>>> RecordsOnPages(const TPageImage& image,
                                                                                const std::vector<TRecordPlace>& places,
                                                                                const std::set<std::uint32_t>& pages)
{
    std::map<std::uint32_t, std::vector<std::size_t>> records;
    for (std::size_t r = 0; r < places.size(); ++r) {
        const TRecordPlace& place = places[r];
        if (!pages.count(place.Header.Page)) continue;
        std::vector<std::size_t>& onPage = records[place.Header.Page];
        if (place.Header != place.Data || place.Header.Row != onPage.size()) return std::nullopt;
        onPage.push_back(r);
    }
    for (const auto& [page, onPage] : records)
        if (RowSlots(image.LoadedPages(), page).size() != onPage.size()) return std::nullopt;  // deleted rows among them
    return records;
}

// The pages a change of one kind touches: those of the records it updates or deletes, or for new
// records the page of the last one, which they follow.
std::set<std::uint32_t> TouchedPages(const TTableChanges& changes, const std::vector<TRecordPlace>& places)
{
    std::set<std::uint32_t> pages;
    for (const auto& update : changes.Updates) pages.insert(places[update.first].Header.Page);
    for (std::size_t record : changes.Deletes) pages.insert(places[record].Header.Page);
    if (!changes.Inserts.empty()) pages.insert(places.back().Header.Page);
    return pages;
}

// Whether the change can leave every record it does not touch where it is: it makes one kind of
// change, and no index entry needs changing (an update keeps every key; a table without indexes
// has no row pointers to keep).
bool Local(const TTableDef& def, const TFormat& format, const TTableChanges& changes, const std::vector<TView>& stored,
           const std::vector<TView>& rows)
{
    const int kinds = !changes.Updates.empty() + !changes.Deletes.empty() + !changes.Inserts.empty();
    if (kinds != 1 || stored.empty()) return false;
    return changes.Updates.empty() ? def.Indexes.empty() : KeysKept(def, format, changes, stored, rows);
}

// A change that leaves the other records where they are costs the pages it touches: those are
// laid out anew, and the indexes stay as they are. False when the change needs more. rows are
// the records after the change, stored those before.
bool ChangeInPlace(TPageImage& image, const TTableDef& def, const TTableChanges& changes,
                   const std::vector<TRecordPlace>& places, const std::vector<TView>& stored,
                   const std::vector<TView>& rows, std::size_t smallestRow, TLayout& layout)
{
    if (!Local(def, image.Format(), changes, stored, rows)) return false;
    const auto pages = RecordsOnPages(image, places, TouchedPages(changes, places));
    if (!pages) return false;
    // A page that no longer holds its records, or holds none, sends the change the long way,
    // which lays out every page again, those written here included.
    for (const auto& [page, records] : *pages) {
        std::vector<TView> laid;
        for (std::size_t r : records)
            if (!changes.Deletes.count(r)) laid.push_back(changes.Deletes.empty() ? rows[r] : stored[r]);
        if (!changes.Inserts.empty() && page == places.back().Header.Page)
            laid.insert(laid.end(), rows.begin() + static_cast<std::ptrdiff_t>(stored.size()), rows.end());
        if (!RelayPage(image, def, page, laid, smallestRow, layout)) return false;
    }
    return true;
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

// The stored record each record after the change was: those not deleted, in order. (Inserts,
// after them, have none.)
std::vector<std::size_t> Origins(const TTableChanges& changes, std::size_t stored)
{
    std::vector<std::size_t> origins;
    origins.reserve(stored);
    for (std::size_t r = 0; r < stored; ++r)
        if (!changes.Deletes.count(r)) origins.push_back(r);
    return origins;
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
        const std::vector<TRecordPlace> places = RecordPlaces(image.Pages(), rebuilt);
        consistent = consistent && places.size() == records &&
                     std::all_of(places.begin(), places.end(), [](const TRecordPlace& p) { return p.Header == p.Data; });
        ReadLongValues(image.Pages(), rebuilt, places);
    } catch (const EDamaged&) {
        consistent = false;
    }
    if (!consistent)
        Refused(quorlin::Format(Tr("The change to the table '%1$s' could not be laid out consistently; nothing was written."),
                                def.Name));
}

}  // namespace

TRowFields FieldsWith(const TTableDef& def, const TFormat& format, const TView* stored, const TFieldValues& values)
{
    TRowFields fields = BlankFields(def);
    if (stored) SplitRow(def, format, *stored, fields);
    for (std::size_t c = 0; c < values.size(); ++c) {
        if (!values[c]) continue;
        fields.Present[c] = values[c]->Present;
        fields.Data[c] = values[c]->Data;
    }
    return fields;
}

void AssignAutoNumbers(TTableDef& def, TFieldValues& values)
{
    for (std::size_t c = 0; c < def.Columns.size(); ++c) {
        const TColumnDef& col = def.Columns[c];
        if (col.AutoGuid())
            Refused(quorlin::Format(Tr("The table '%1$s' numbers its records with replication IDs, which this program cannot "
                                       "assign."),
                                    def.Name));
        if (!col.AutoLong()) continue;
        if (def.AutoNumber >= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
            Refused(quorlin::Format(Tr("The AutoNumber field '%1$s' has no values left."), col.Name));
        TParsedValue& v = values[c].emplace();
        v.Present = true;
        v.Kind = TCellKind::Number;
        v.Number = ++def.AutoNumber;
        v.Data.resize(sizeof(std::uint32_t));
        Put32(v.Data.data(), def.AutoNumber);
    }
}

void RebuildTable(TPageImage& image, const TTableDef& def, const TTableChanges& changes, std::size_t recordsRead)
{
    const TFormat& format = image.Format();
    const std::vector<std::uint32_t> owned = ReadUsageMap(image.Pages(), def.OwnedPages);
    const std::vector<TRecordPlace> places = StoredPlaces(image, def, recordsRead);
    const std::vector<TView> stored = RowsOf(places);
    CheckRecordNumbers(def, changes, stored.size());
    const TKeptKeys kept(image.LoadedPages(), def, places);
    std::set<std::uint32_t> mapped = MapPages(image, def.FreePages);
    mapped.insert(owned.begin(), owned.end());
    TLongValueWriter longValueWriter(image, std::move(mapped));
    FreeLongValues(longValueWriter, def, format, changes, stored);
    std::deque<TBytes> changed;
    const std::vector<TView> rows = ChangedRows(longValueWriter, image, def, changes, stored, changed);
    kept.CheckChanges(def, format, changes, stored, rows);

    const std::size_t smallestRow = JoinRow(def, BlankFields(def)).size();
    TLayout layout;
    const bool inPlace = ChangeInPlace(image, def, changes, places, stored, rows, smallestRow, layout);
    if (!inPlace) layout = LayOutRows(image, def, owned, rows, smallestRow);
    TPageChanges pages = UpdateTableMaps(image, def, owned, layout);
    const TPageChanges& longValuePages = longValueWriter.Pages();
    pages.Added.insert(pages.Added.end(), longValuePages.Added.begin(), longValuePages.Added.end());
    pages.Freed.insert(pages.Freed.end(), longValuePages.Freed.begin(), longValuePages.Freed.end());
    if (!inPlace) {
        const std::vector<TRowFields> fields = IndexedFields(def, format, rows);
        const std::vector<std::size_t> origins = Origins(changes, stored.size());
        for (std::size_t i = 0; i < def.Indexes.size(); ++i) {
            const std::vector<const TBytes*> written = kept.KeysOf(i, origins);
            RebuildIndex(image, def, def.Indexes[i], fields, layout.Places, pages, written.empty() ? nullptr : &written);
        }
    }
    WriteCounts(image, def, rows.size());
    MarkPagesInUse(image, pages.Added, true);
    MarkPagesInUse(image, pages.Freed, false);
    CheckRebuilt(image, def, rows.size());
}

}  // namespace quorlin::jet
