#include "data/reading/MdbAccess.h"

#include <optional>
#include <unordered_map>

#include "values/FieldName.h"
#include "data/records/Fingerprint.h"
#include "data/records/ProviderError.h"
#include "data/format/Damage.h"
#include "data/format/read/Database.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

[[noreturn]] void DamagedFile(const std::string& path, const jet::EDamaged& e)
{
    throw EProviderError(Format(Tr("The database file '%1$s' is damaged and cannot be read: %2$s"), path, e.what()));
}

[[noreturn]] void DamagedTable(const std::string& path, const std::string& table, const jet::EDamaged& e)
{
    throw EProviderError(Format(Tr(DamagedTableText), table, path, e.what()));
}

// Access does not always keep a table's record count, so a count that disagrees with the
// records is no damage; it is told all the same, since damage can make a record look deleted.
std::string CountWarning(const std::string& table, std::uint32_t counted, std::size_t found)
{
    return Format(Tr("The table '%1$s' holds %2$s records where its definition counts %3$s; the %2$s found are "
                     "read. Access does not always keep that count; a change to the table here, or compacting the "
                     "database in Access, sets it right."),
                  table, found, counted);
}

const jet::TCatalogEntry* FindObject(const jet::TDatabase& db, const std::string& name, jet::TObjectType type)
{
    for (const auto& entry : db.Catalog())
        if (entry.Type == type && entry.Name == name) return &entry;
    return nullptr;
}

// The field of MSysQueries called name.
int QueryColumn(const std::vector<TColumnInfo>& columns, const char* name)
{
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (SameFieldName(columns[i].Name, name)) return static_cast<int>(i);
    throw EProviderError(Tr("MSysQueries has an unknown layout"));
}

// Every saved query's definition, by its object id, read from MSysQueries.
std::unordered_map<std::uint32_t, TQueryDefinition> ReadQueryDefinitions(const jet::TDatabase& db)
{
    std::unordered_map<std::uint32_t, TQueryDefinition> queries;
    const jet::TCatalogEntry* entry = FindObject(db, "MSysQueries", jet::TObjectType::Table);
    if (!entry) return queries;
    int id = -1, attribute = -1, flag = -1, name1 = -1, name2 = -1, expression = -1;
    jet::ReadTableRecords(
        db, db.TableDef(*entry),
        [&](const std::vector<TColumnInfo>& columns) {
            id = QueryColumn(columns, "ObjectId");
            attribute = QueryColumn(columns, "Attribute");
            flag = QueryColumn(columns, "Flag");
            name1 = QueryColumn(columns, "Name1");
            name2 = QueryColumn(columns, "Name2");
            expression = QueryColumn(columns, "Expression");
        },
        [&](const std::vector<TCellValue>& row) {
            const auto object = static_cast<std::uint32_t>(static_cast<std::int64_t>(row[id].Number)) & 0xFFFFFF;
            TQueryPart part;
            part.Attribute = static_cast<int>(row[attribute].Number);
            part.Flag = static_cast<int>(row[flag].Number);
            part.Name1 = row[name1].Text;
            part.Name2 = row[name2].Text;
            part.Expression = row[expression].Text;
            queries[object].Parts.push_back(std::move(part));
        },
        {});
    return queries;
}

}  // namespace

struct TMdbFile::TImpl {
    std::string Path;
    std::unique_ptr<jet::TDatabase> Db;
    std::optional<std::uint64_t> HashAtOpen;  // of the bytes before anything was read from them
    bool QueriesRead = false;
    bool QueriesKnown = false;
    std::unordered_map<std::uint32_t, TQueryDefinition> Queries;
    std::vector<std::string> Warnings;

    void LoadQueries()
    {
        if (QueriesRead) return;
        QueriesRead = true;
        try {
            Queries = ReadQueryDefinitions(*Db);
            QueriesKnown = true;
        } catch (const EProviderError&) {
            QueriesKnown = false;
        } catch (const jet::EDamaged&) {
            QueriesKnown = false;
        }
    }
};

TMdbFile::TMdbFile(const std::string& path, int fd, bool fingerprinted) : FImpl(std::make_unique<TImpl>())
{
    FImpl->Path = path;
    try {
        FImpl->Db = std::make_unique<jet::TDatabase>(path, fd, [this, fingerprinted](jet::TView bytes) {
            if (fingerprinted) FImpl->HashAtOpen = FileHash(bytes);
        });
    } catch (const jet::EDamaged& e) {
        DamagedFile(path, e);
    } catch (const jet::EUnreadable& e) {
        throw EProviderError(e.what());
    }
}

TMdbFile::~TMdbFile() = default;

const std::string& TMdbFile::Path() const noexcept { return FImpl->Path; }

std::vector<TCatalogObject> TMdbFile::Catalog()
{
    FImpl->LoadQueries();
    std::vector<TCatalogObject> objects;
    for (const auto& entry : FImpl->Db->Catalog()) {
        const std::string& name = entry.Name;
        if (name.empty()) continue;  // only a damaged catalog has nameless objects
        if (entry.Type == jet::TObjectType::Table) {
            objects.push_back({name, entry.System() ? TObjectKind::SystemTable : TObjectKind::Table});
        } else if (entry.Type == jet::TObjectType::Query && name[0] != '~') {
            // A view is a saved select query without parameters; where the definitions cannot
            // be read, the object's own flags (0: select) are all there is to go by.
            const auto it = FImpl->Queries.find(entry.Page());
            const bool view = FImpl->QueriesKnown && it != FImpl->Queries.end() ? it->second.IsSelectWithoutParameters()
                                                                                : entry.Flags == 0;
            if (view) objects.push_back({name, TObjectKind::View});
        }
    }
    return objects;
}

void TMdbFile::ReadTable(const std::string& tableName,
                         const std::function<void(const std::vector<TColumnInfo>&, std::int32_t)>& onColumns,
                         const std::function<void(const std::vector<TCellValue>&)>& onRecord, const TProgress& progress)
{
    const jet::TCatalogEntry* entry = FindObject(*FImpl->Db, tableName, jet::TObjectType::Table);
    if (!entry) throw EProviderError(Format(Tr("Cannot find the input table '%1$s'"), tableName));
    try {
        const jet::TTableDef def = FImpl->Db->TableDef(*entry);
        const auto count = static_cast<std::int32_t>(std::min<std::uint32_t>(def.RowCount, INT32_MAX));
        const std::size_t found = jet::ReadTableRecords(
            *FImpl->Db, def, [&](const std::vector<TColumnInfo>& columns) { onColumns(columns, count); }, onRecord,
            progress);
        if (jet::CountDisagrees(def, found)) FImpl->Warnings.push_back(CountWarning(tableName, def.RowCount, found));
    } catch (const jet::EDamaged& e) {
        DamagedTable(FImpl->Path, tableName, e);
    }
}

TQueryDefinition TMdbFile::QueryDefinition(const std::string& queryName)
{
    FImpl->LoadQueries();
    const jet::TCatalogEntry* entry = FindObject(*FImpl->Db, queryName, jet::TObjectType::Query);
    if (!entry) throw EProviderError(Format(Tr("Cannot find the query '%1$s'"), queryName));
    const auto it = FImpl->Queries.find(entry->Page());
    if (it == FImpl->Queries.end()) throw EProviderError(Format(Tr("The definition of the query '%1$s' cannot be read"), queryName));
    TQueryDefinition definition = it->second;
    definition.Name = queryName;
    return definition;
}

std::optional<std::uint64_t> TMdbFile::Fingerprint(const std::string& tableName) const
{
    // The mapping shows another program's writes into the file, so hashing it again tells
    // whether what was decoded came from the bytes hashed at the start.
    if (!FImpl->HashAtOpen || FileHash(FImpl->Db->Pages().Bytes()) != *FImpl->HashAtOpen) return std::nullopt;
    return TableFingerprint(*FImpl->HashAtOpen, tableName);
}

const std::vector<std::string>& TMdbFile::Warnings() const noexcept { return FImpl->Warnings; }

std::vector<TCatalogObject> ReadCatalog(const std::string& path) { return TMdbFile(path).Catalog(); }

void StreamTableRecords(TMdbFile& file, const std::string& tableName, TWireWriter& w, const TProgress& progress)
{
    file.ReadTable(
        tableName, [&](const std::vector<TColumnInfo>& columns, std::int32_t count) { WriteColumns(w, columns, count); },
        [&](const std::vector<TCellValue>& row) {
            w.U8(static_cast<std::uint8_t>(TWireMark::Record));
            for (const auto& v : row) WriteCell(w, v);
        },
        progress);
    for (const std::string& warning : file.Warnings()) WriteWarning(w, warning);
    if (const auto fingerprint = file.Fingerprint(tableName)) WriteFingerprint(w, *fingerprint);
    w.U8(static_cast<std::uint8_t>(TWireMark::End));
}

}  // namespace quorlin
