#include "data/editing/ConfinedEdit.h"

#include <algorithm>
#include <memory>

#include "data/format/Damage.h"
#include "data/format/read/Database.h"
#include "data/format/read/FileMapping.h"
#include "data/format/write/ChangePlan.h"
#include "data/format/write/TableRebuild.h"
#include "data/format/write/WritableTable.h"
#include "data/records/Fingerprint.h"
#include "data/records/ProviderError.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

[[noreturn]] void Refuse(const std::string& why) { throw EProviderError(why); }

// Runs the work on the format code, its refusals raised as the provider's, damage anywhere told
// as the file being damaged (invariant 8 of the commit).
template <class TStep>
decltype(auto) Guarded(const std::string& path, TStep&& step)
{
    try {
        return step();
    } catch (const jet::ERefused& e) {
        Refuse(e.what());
    } catch (const jet::EDamaged&) {
        Refuse(DamagedForEditingText(path));
    }
}

// Access 2000 and later files are written; Access 97 files are read-only here.
const jet::TFormat& WritableFormat(const std::string& path, jet::TView bytes)
{
    // Less than a page cannot hold even the database page.
    if (bytes.size() < jet::Jet4Format().PageSize || bytes[0] != static_cast<std::uint8_t>(jet::TPageType::Database))
        Refuse(Format(Tr("The file '%1$s' is not an Access database."), path));
    const jet::TFormat* format = jet::FormatOf(bytes[jet::database_page::Version]);
    if (format && format->Version == jet::TVersion::Jet3)
        Refuse(Format(Tr("The database '%1$s' is in Access 97 format, which is read-only here."), path));
    if (!format) Refuse(jet::UnknownVersionText(path, bytes[jet::database_page::Version]));
    if (bytes.size() % format->PageSize != 0) Refuse(DamagedForEditingText(path));
    return *format;
}

// The database handed: the file as loaded, mapped read-only, and the image a change rewrites,
// which copies only the pages it writes.
struct TEditedFile {
    TEditedFile(const std::string& path, int database)
        : Loaded(path, database),
          Image(path, Loaded.Bytes(), jet::TWorkingCopy(database, Loaded.Bytes().size()),
                WritableFormat(path, Loaded.Bytes()))
    {
    }
    jet::TFileMapping Loaded;
    jet::TPageImage Image;
};

jet::TTableDef WritableTable(const jet::TPageImage& image, const std::string& table)
{
    jet::TTableDef def = jet::FindTable(image, table);
    if (const std::string why = jet::WriteRefusalOf(def, image.Format()); !why.empty()) jet::Refused(why);
    return def;
}

// Fields are named by their place in the table as read; the definition may list them in another
// order.
std::vector<std::size_t> DefinitionColumns(const jet::TTableDef& def, const std::vector<std::string>& read)
{
    std::vector<std::size_t> columns(read.size());
    for (std::size_t c = 0; c < read.size(); ++c) {
        const auto it = std::find_if(def.Columns.begin(), def.Columns.end(),
                                     [&](const jet::TColumnDef& col) { return col.Name == read[c]; });
        if (it == def.Columns.end()) jet::Damaged(Format(Tr("the field '%1$s' has no definition"), read[c]));
        columns[c] = static_cast<std::size_t>(it - def.Columns.begin());
    }
    return columns;
}

// The values the change stores, by column of the definition.
jet::TFieldValues FieldValues(const jet::TTableDef& def, const TRecordChange& change, const std::vector<std::size_t>& defColumn)
{
    jet::TFieldValues values(def.Columns.size());
    if (change.Kind == TRecordChange::TKind::Delete) return values;
    for (const TFieldText& value : change.Values) {
        if (value.Field < 0 || static_cast<std::size_t>(value.Field) >= defColumn.size()) Refuse(Tr("Field index out of range"));
        const std::size_t column = defColumn[static_cast<std::size_t>(value.Field)];
        jet::CheckAssignable(def.Columns[column]);
        values[column] = jet::TValueParser(def.Columns[column]).Parse(value.Text);
    }
    return values;
}

// The change with the cascades the table's relationships ask for, checked against them.
jet::TChangePlan Plan(const jet::TPageImage& image, const jet::TTableDef& def, const TEditRequest& request)
{
    using K = TRecordChange::TKind;
    const TRecordChange& change = request.Change;
    jet::TChangePlan plan(image, def);
    jet::TFieldValues values = FieldValues(def, change, DefinitionColumns(def, request.ReadColumns));
    if (change.Kind == K::Insert) {
        plan.Insert(std::move(values));
    } else {
        if (change.Record < 0 || change.Record >= request.ReadRecords)
            Refuse(Format(Tr("The table '%1$s' has no record %2$s."), def.Name, change.Record + 1));
        const auto record = static_cast<std::size_t>(change.Record);
        if (change.Kind == K::Delete)
            plan.Delete(record);
        else
            plan.Update(record, std::move(values));
    }
    plan.Check();
    return plan;
}

// The tables the plan rebuilds: the changed one first, then those its relationships reach.
std::vector<const jet::TPlannedTable*> Rebuilt(const jet::TChangePlan& plan)
{
    std::vector<const jet::TPlannedTable*> tables;
    for (const jet::TPlannedTable& t : plan.Tables())
        if (tables.empty() || !t.Changes.Empty()) tables.push_back(&t);
    return tables;
}

TMeantValues MeantValues(const jet::TFieldValues& values)
{
    TMeantValues meant(values.size());
    for (std::size_t c = 0; c < values.size(); ++c)
        if (values[c]) meant[c] = TCellValue{values[c]->Kind, values[c]->Number, values[c]->Text};
    return meant;
}

TMeantChanges MeantChanges(const jet::TTableChanges& changes)
{
    TMeantChanges meant;
    meant.Deletes = changes.Deletes;
    for (const auto& [record, values] : changes.Updates) meant.Updates.emplace(record, MeantValues(values));
    for (const jet::TFieldValues& values : changes.Inserts) meant.Inserts.push_back(MeantValues(values));
    return meant;
}

// A table's records as the reading process would send them, read from the same bytes.
TTableData ReadTable(const jet::TDatabase& db, const std::string& name)
{
    const jet::TCatalogEntry* entry = db.FindTable(name);
    if (!entry) jet::Damaged(Format(Tr("the related table '%1$s' is not in the catalog"), name));
    TTableData table;
    jet::ReadTableRecords(
        db, db.TableDef(*entry),
        [&](const std::vector<TColumnInfo>& columns) {
            for (const TColumnInfo& info : columns) table.Columns.push_back(TColumnData{info, {}, {}, {}});
        },
        [&](const std::vector<TCellValue>& row) {
            for (std::size_t c = 0; c < row.size(); ++c) {
                TColumnData& column = table.Columns[c];
                column.Kinds.push_back(row[c].Kind);
                column.Numbers.push_back(row[c].Number);
                column.Texts.push_back(row[c].Text);
            }
            ++table.RecordCount;
        },
        {});
    return table;
}

std::vector<std::string> ColumnNames(const TTableData& table)
{
    std::vector<std::string> names;
    for (const TColumnData& c : table.Columns) names.push_back(c.Info.Name);
    return names;
}

}  // namespace

std::string EditRefusal(const TEditRequest& request, int database)
{
    try {
        const TEditedFile file(request.Path, database);
        const jet::TPageImage& image = file.Image;
        Guarded(request.Path, [&] {
            const jet::TChangePlan plan(image, WritableTable(image, request.Table));
        });
        return {};
    } catch (const EProviderError& e) {
        return e.what();
    }
}

std::vector<std::string> EditEffects(const TEditRequest& request, int database)
{
    std::vector<std::string> effects;
    try {
        const TEditedFile file(request.Path, database);
        const jet::TPageImage& image = file.Image;
        jet::TChangePlan plan(image, WritableTable(image, request.Table));
        plan.Delete(static_cast<std::size_t>(std::max(request.Change.Record, 0)));
        plan.Check();
        for (std::size_t t = 0; t < plan.Tables().size(); ++t) {
            const jet::TPlannedTable& planned = plan.Tables()[t];
            const std::size_t deleted = planned.Changes.Deletes.size() - (t == 0 ? 1 : 0);
            const std::size_t changed = planned.Changes.Updates.size();
            const auto records = [&](std::size_t n) {
                return Format(TrPlural("%1$s record of the table '%2$s'", "%1$s records of the table '%2$s'", n), n,
                              planned.Def.Name);
            };
            if (deleted) effects.push_back(Format(Tr("%1$s deleted"), records(deleted)));
            if (changed)
                effects.push_back(
                    Format(Tr("%1$s left referring to nothing (the related fields emptied)"), records(changed)));
        }
    } catch (const std::exception&) {
        effects.clear();
    }
    return effects;
}

std::vector<std::string> EditIndexes(const TEditRequest& request, int database)
{
    const TEditedFile file(request.Path, database);
    const jet::TTableDef def = Guarded(request.Path, [&] { return jet::FindTable(file.Image, request.Table); });
    std::vector<std::string> indexes;
    for (const jet::TRealIndex& index : def.Indexes) indexes.push_back(jet::DescribeIndex(def, index));
    return indexes;
}

TBuiltChange BuildChange(const TEditRequest& request, int database)
{
    std::unique_ptr<jet::TDatabase> db;  // opened when a related table is to be read
    const std::string& path = request.Path;
    TEditedFile file(path, database);
    jet::TPageImage& image = file.Image;
    const jet::TTableDef def = Guarded(path, [&] { return WritableTable(image, request.Table); });
    const jet::TChangePlan plan = Guarded(path, [&] { return Plan(image, def, request); });
    TBuiltChange built;
    for (const jet::TPlannedTable* t : Rebuilt(plan)) {
        TRebuiltTable& table = built.Tables.emplace_back();
        table.Name = t->Def.Name;
        table.Changes = MeantChanges(t->Changes);
        std::size_t recordsRead = static_cast<std::size_t>(request.ReadRecords);
        Guarded(path, [&] {
            if (built.Tables.size() == 1) {
                table.DefColumn = DefinitionColumns(t->Def, request.ReadColumns);
            } else {
                if (!db) db = std::make_unique<jet::TDatabase>(path, database);
                table.Before = ReadTable(*db, t->Def.Name);
                table.DefColumn = DefinitionColumns(t->Def, ColumnNames(*table.Before));
                recordsRead = static_cast<std::size_t>(table.Before->RecordCount);
            }
            jet::RebuildTable(image, t->Def, t->Changes, recordsRead);
        });
    }
    built.Changed = ChangedPages(image.Loaded(), image.Bytes(), static_cast<std::uint32_t>(image.Format().PageSize),
                                 image.Written());
    // Last, so that a write another program made into the file while the change was built shows.
    built.BuiltOn = FileHash(image.Loaded());
    return built;
}

}  // namespace quorlin
