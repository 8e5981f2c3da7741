#include "data/format/write/ChangePlan.h"

#include <algorithm>

#include "data/format/read/Catalog.h"
#include "data/format/Damage.h"
#include "data/format/write/IndexWriter.h"
#include "data/format/write/WritableTable.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// A cascade that runs longer than this goes round in circles: such a change is refused.
constexpr std::size_t MaxOperations = 1'000'000;

// Whether values set a field of the index.
bool SetsAny(const TRealIndex& index, const TFieldValues& values)
{
    return std::any_of(index.Columns.begin(), index.Columns.end(),
                       [&](const TIndexColumn& ic) { return ic.Column < values.size() && values[ic.Column]; });
}

// Related fields are compared by their keys; both sides are keyed ascending so that an index
// sorting one of them the other way still matches.
TRealIndex Ascending(const TRealIndex& index)
{
    TRealIndex ascending = index;
    for (TIndexColumn& ic : ascending.Columns) ic.Ascending = true;
    return ascending;
}

bool SameKind(const TColumnDef& a, const TColumnDef& b)
{
    if (a.Type != b.Type) return false;
    return a.Type != TColumnType::Text || (a.SortOrder == b.SortOrder && a.SortVersion == b.SortVersion);
}

bool Comparable(const TTableDef& a, const TRealIndex& ia, const TTableDef& b, const TRealIndex& ib)
{
    if (ia.Columns.size() != ib.Columns.size()) return false;
    for (std::size_t i = 0; i < ia.Columns.size(); ++i)
        if (!SameKind(a.Columns[ia.Columns[i].Column], b.Columns[ib.Columns[i].Column])) return false;
    return true;
}

[[noreturn]] void Incomparable(const TTableDef& a, const TReference& ref, const TTableDef& b)
{
    Refused(quorlin::Format(Tr("The table '%1$s' takes part in a relationship ('%2$s') with the table '%3$s' whose fields this "
                               "program cannot compare; the table is read-only here."),
                            a.Name, ref.Name, b.Name));
}

TFieldValues Nulls(const TTableDef& def, const TRealIndex& index)
{
    TFieldValues values(def.Columns.size());
    for (const TIndexColumn& ic : index.Columns) values[ic.Column].emplace();
    return values;
}

}  // namespace

TChangePlan::TChangePlan(const TPageImage& image, const TTableDef& table) : FImage(image)
{
    FTables.push_back({table, {}});
    FLinks.emplace_back();
    FRows.emplace_back();
    const TPages pages = image.LoadedPages();
    for (std::size_t t = 0; t < FTables.size(); ++t) Reach(pages, t);
}

// The links of table t, the tables they lead to added to those reached.
void TChangePlan::Reach(const TPages& pages, std::size_t table)
{
    for (const TReference& ref : FTables[table].Def.References) {
        const std::size_t other = TableAt(pages, ref.OtherTable);
        FLinks[table].push_back(Resolve(table, ref, other));
    }
}

std::size_t TChangePlan::TableAt(const TPages& pages, std::uint32_t page)
{
    for (std::size_t t = 0; t < FTables.size(); ++t)
        if (FTables[t].Def.Page == page) return t;
    if (FCatalog.empty()) FCatalog = ReadCatalog(pages, 0);
    const auto entry = std::find_if(FCatalog.begin(), FCatalog.end(),
                                    [&](const TCatalogEntry& e) { return e.Type == TObjectType::Table && e.Page() == page; });
    if (entry == FCatalog.end()) Damaged(quorlin::Format(Tr("a relationship of the table '%1$s' leads to no table"), FTables.front().Def.Name));
    TTableDef def = ReadTableDef(pages, page, entry->Name, 0);
    if (const std::string why = WriteRefusalOf(def, pages.Format()); !why.empty())
        Refused(quorlin::Format(Tr("%1$s The table '%2$s' is related to it, so it is read-only here too."), why,
                                FTables.front().Def.Name));
    FTables.push_back({std::move(def), {}});
    FLinks.emplace_back();
    FRows.emplace_back();
    return FTables.size() - 1;
}

TChangePlan::TLink TChangePlan::Resolve(std::size_t table, const TReference& ref, std::size_t other) const
{
    const TTableDef& a = FTables[table].Def;
    const TTableDef& b = FTables[other].Def;
    const auto logical = std::find_if(b.LogicalIndexes.begin(), b.LogicalIndexes.end(),
                                      [&](const TLogicalIndex& l) { return l.Number == ref.OtherIndex; });
    if (logical == b.LogicalIndexes.end()) Incomparable(a, ref, b);
    const auto back = std::find_if(b.References.begin(), b.References.end(), [&](const TReference& r) {
        return r.Index == logical->Real && r.OtherTable == a.Page && r.Referred != ref.Referred;
    });
    if (back == b.References.end() || !Comparable(a, a.Indexes[ref.Index], b, b.Indexes[logical->Real])) Incomparable(a, ref, b);
    const TReference& rules = ref.Referred ? ref : *back;
    return {ref.Index, other, logical->Real, ref.Referred, rules.CascadeUpdates, rules.CascadeDeletes, rules.CascadeSetNull};
}

// ---------------------------------------------------------------------------------------------
// Records as the plan stands.

const std::vector<TView>& TChangePlan::Rows(std::size_t table)
{
    std::optional<std::vector<TView>>& rows = FRows[table];
    if (!rows) {
        rows.emplace();
        for (const TRecordPlace& place : RecordPlaces(FImage.LoadedPages(), FTables[table].Def)) rows->push_back(place.Row);
    }
    return *rows;
}

bool TChangePlan::Deleted(std::size_t table, std::size_t record) const
{
    return FTables[table].Changes.Deletes.count(record) != 0;
}

// The values the plan gives the record (a new one's are all its values); made when missing.
TFieldValues* TChangePlan::ChangedValues(std::size_t table, std::size_t record)
{
    TPlannedTable& t = FTables[table];
    // Without new records there is no need to read the stored ones to tell them apart.
    if (!t.Changes.Inserts.empty() && record >= Rows(table).size()) return &t.Changes.Inserts.at(record - Rows(table).size());
    auto [it, added] = t.Changes.Updates.try_emplace(record);
    if (added) it->second.resize(t.Def.Columns.size());
    return &it->second;
}

// The record's fields with the plan's values; they view the stored row and the plan's values.
TRowFields TChangePlan::Fields(std::size_t table, std::size_t record)
{
    const std::vector<TView>& rows = Rows(table);
    const TTableChanges& changes = FTables[table].Changes;
    static const TFieldValues none;
    if (record >= rows.size())
        return FieldsWith(FTables[table].Def, FImage.Format(), nullptr, changes.Inserts.at(record - rows.size()));
    const auto update = changes.Updates.find(record);
    return FieldsWith(FTables[table].Def, FImage.Format(), &rows[record], update == changes.Updates.end() ? none : update->second);
}

TBytes TChangePlan::Key(std::size_t table, std::size_t index, std::size_t record)
{
    const TTableDef& def = FTables[table].Def;
    return IndexKeyOf(def, Ascending(def.Indexes[index]), Fields(table, record));
}

// The records whose fields in the index hold key, none of them empty.
std::vector<std::size_t> TChangePlan::Find(std::size_t table, std::size_t index, const TBytes& key)
{
    const TTableDef& def = FTables[table].Def;
    const TRealIndex ix = Ascending(def.Indexes[index]);
    const std::vector<TView>& rows = Rows(table);
    const TTableChanges& changes = FTables[table].Changes;
    auto [keys, made] = FStoredKeys.try_emplace({table, index});
    TRowFields fields;
    for (std::size_t r = 0; made && r < rows.size(); ++r) {
        SplitRow(def, FImage.Format(), rows[r], fields);
        if (!AnyNull(ix, fields)) keys->second.emplace(IndexKeyOf(def, ix, fields), r);
    }
    std::vector<std::size_t> found;
    for (auto [it, end] = keys->second.equal_range(key); it != end; ++it)
        if (!Deleted(table, it->second) && !changes.Updates.count(it->second)) found.push_back(it->second);
    const auto matches = [&](std::size_t r) {
        const TRowFields now = Fields(table, r);
        return !Deleted(table, r) && !AnyNull(ix, now) && IndexKeyOf(def, ix, now) == key;
    };
    for (const auto& update : changes.Updates)
        if (matches(update.first)) found.push_back(update.first);
    for (std::size_t i = 0; i < changes.Inserts.size(); ++i)
        if (matches(rows.size() + i)) found.push_back(rows.size() + i);
    return found;
}

// ---------------------------------------------------------------------------------------------
// The change and its cascades.

void TChangePlan::Update(std::size_t record, TFieldValues values) { Run({0, record, std::move(values)}); }

void TChangePlan::Delete(std::size_t record) { Run({0, record, std::nullopt}); }

void TChangePlan::Insert(TFieldValues values)
{
    TPlannedTable& t = FTables.front();
    AssignAutoNumbers(t.Def, values);
    t.Changes.Inserts.push_back(std::move(values));
    if (!FLinks.front().empty()) FTouched.emplace_back(0, Rows(0).size() + t.Changes.Inserts.size() - 1);
}

void TChangePlan::Run(TOperation first)
{
    std::vector<TOperation> pending{std::move(first)};
    for (std::size_t done = 0; !pending.empty(); ++done) {
        if (done == MaxOperations)
            Refused(quorlin::Format(Tr("The change to the table '%1$s' cascades through its relationships without end."),
                                    FTables.front().Def.Name));
        const TOperation op = std::move(pending.back());
        pending.pop_back();
        if (!FLinks[op.Table].empty() && op.Record >= Rows(op.Table).size())
            Refused(quorlin::Format(Tr("The table '%1$s' has no record %2$s."), FTables[op.Table].Def.Name, op.Record + 1));
        if (op.Values)
            UpdateRecord(op.Table, op.Record, *op.Values, pending);
        else
            DeleteRecord(op.Table, op.Record, pending);
    }
}

void TChangePlan::DeleteRecord(std::size_t table, std::size_t record, std::vector<TOperation>& next)
{
    if (Deleted(table, record)) return;
    FTables[table].Changes.Deletes.insert(record);
    for (std::size_t l = 0; l < FLinks[table].size(); ++l) {
        const TLink& link = FLinks[table][l];
        if (!link.Referred || AnyNull(FTables[table].Def.Indexes[link.Index], Fields(table, record))) continue;
        const TBytes key = Key(table, link.Index, record);
        FVacated.push_back({table, l, key});
        if (!link.CascadeDeletes && !link.CascadeSetNull) continue;
        const TTableDef& other = FTables[link.Other].Def;
        for (std::size_t related : Find(link.Other, link.OtherIndex, key)) {
            if (link.CascadeDeletes)
                next.push_back({link.Other, related, std::nullopt});
            else
                next.push_back({link.Other, related, Nulls(other, other.Indexes[link.OtherIndex])});
        }
    }
}

void TChangePlan::UpdateRecord(std::size_t table, std::size_t record, const TFieldValues& values,
                               std::vector<TOperation>& next)
{
    if (Deleted(table, record)) return;
    const std::vector<TLink>& links = FLinks[table];
    std::vector<std::optional<TBytes>> before(links.size());
    const auto keyNow = [&](const TLink& link) -> std::optional<TBytes> {
        if (AnyNull(FTables[table].Def.Indexes[link.Index], Fields(table, record))) return std::nullopt;
        return Key(table, link.Index, record);
    };
    // Keys are only built for the relationships whose fields the update sets: in a sort order only
    // Access keys, a correction of other fields needs none.
    for (std::size_t l = 0; l < links.size(); ++l)
        if (links[l].Referred && SetsAny(FTables[table].Def.Indexes[links[l].Index], values)) before[l] = keyNow(links[l]);
    TFieldValues& changed = *ChangedValues(table, record);
    for (std::size_t c = 0; c < values.size(); ++c)
        if (values[c]) changed[c] = values[c];
    FTouched.emplace_back(table, record);
    for (std::size_t l = 0; l < links.size(); ++l) {
        if (!before[l] || keyNow(links[l]) == before[l]) continue;
        FVacated.push_back({table, l, *before[l]});
        if (!links[l].CascadeUpdates) continue;
        for (std::size_t related : Find(links[l].Other, links[l].OtherIndex, *before[l]))
            next.push_back({links[l].Other, related, Cascaded(table, record, links[l])});
    }
}

// The values a record referring to this one through link takes when this one's related fields
// change: those of this record that the plan changed.
TFieldValues TChangePlan::Cascaded(std::size_t table, std::size_t record, const TLink& link) const
{
    const TTableDef& def = FTables[table].Def;
    const TTableDef& other = FTables[link.Other].Def;
    const TTableChanges& changes = FTables[table].Changes;
    const TFieldValues& mine = changes.Updates.at(record);
    TFieldValues values(other.Columns.size());
    const std::vector<TIndexColumn>& from = def.Indexes[link.Index].Columns;
    const std::vector<TIndexColumn>& to = other.Indexes[link.OtherIndex].Columns;
    for (std::size_t i = 0; i < from.size(); ++i)
        if (mine[from[i].Column]) values[to[i].Column] = mine[from[i].Column];
    return values;
}

bool TChangePlan::SetsIndexField(std::size_t table, std::size_t record, std::size_t index)
{
    if (record >= Rows(table).size()) return true;
    const TTableChanges& changes = FTables[table].Changes;
    const auto update = changes.Updates.find(record);
    return update != changes.Updates.end() && SetsAny(FTables[table].Def.Indexes[index], update->second);
}

void TChangePlan::Check()
{
    for (const auto& [table, record] : FTouched) {
        if (Deleted(table, record)) continue;
        for (const TLink& link : FLinks[table]) {
            if (link.Referred || !SetsIndexField(table, record, link.Index) ||
                AllNull(FTables[table].Def.Indexes[link.Index], Fields(table, record)))
                continue;
            if (Find(link.Other, link.OtherIndex, Key(table, link.Index, record)).empty())
                Refused(quorlin::Format(Tr("You cannot add or change a record because a related record is required in table "
                                           "'%1$s'."),
                                        FTables[link.Other].Def.Name));
        }
    }
    for (const TVacated& v : FVacated) {
        const TLink& link = FLinks[v.Table][v.Link];
        if (!Find(v.Table, link.Index, v.Key).empty()) continue;  // another record holds the key now
        if (!Find(link.Other, link.OtherIndex, v.Key).empty())
            Refused(quorlin::Format(Tr("The record cannot be deleted or changed because table '%1$s' includes related records."),
                                    FTables[link.Other].Def.Name));
    }
}

}  // namespace quorlin::jet
