#include "data/format/read/Database.h"

#include "values/FieldName.h"
#include "data/format/Damage.h"
#include "data/format/read/FileMapping.h"
#include "data/format/read/Text.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// A file that starts as a database page but names a version we do not know is told as such:
// it is most likely a database of a later Access, not a damaged one.
const TFormat& FormatOfFile(TView bytes, const std::string& path)
{
    if (bytes.size() <= database_page::Version || bytes[0] != static_cast<std::uint8_t>(TPageType::Database))
        throw EUnreadable(quorlin::Format(Tr("Unrecognized database format '%1$s'"), path));
    const TFormat* format = FormatOf(bytes[database_page::Version]);
    if (!format) throw EUnreadable(UnknownVersionText(path, bytes[database_page::Version]));
    if (bytes.size() < format->PageSize * (database_page::CatalogPage + 1))
        throw EUnreadable(quorlin::Format(Tr("Unrecognized database format '%1$s'"), path));
    return *format;
}

}  // namespace

struct TDatabase::TImpl {
    TImpl(const std::string& path, int fd, const std::function<void(TView)>& onMapped)
        : Mapping(path, fd), Pages(Mapping.Bytes(), FormatOfFile(Mapping.Bytes(), path))
    {
        if (onMapped) onMapped(Mapping.Bytes());
        CodePage = Pages.Format().Version == TVersion::Jet3 ? DatabaseCodePage(Pages) : 0;
        Catalog = ReadCatalog(Pages, CodePage);
    }
    TFileMapping Mapping;
    TPages Pages;
    unsigned CodePage = 0;
    std::vector<TCatalogEntry> Catalog;
};

TDatabase::TDatabase(const std::string& path, int fd, const std::function<void(TView)>& onMapped)
    : FImpl(std::make_unique<TImpl>(path, fd, onMapped))
{
}
TDatabase::~TDatabase() = default;

const TPages& TDatabase::Pages() const noexcept { return FImpl->Pages; }
unsigned TDatabase::CodePage() const noexcept { return FImpl->CodePage; }
const std::vector<TCatalogEntry>& TDatabase::Catalog() const noexcept { return FImpl->Catalog; }

const TCatalogEntry* TDatabase::FindTable(const std::string& name) const
{
    const TCatalogEntry* folded = nullptr;
    for (const auto& entry : FImpl->Catalog) {
        if (entry.Type != TObjectType::Table) continue;
        if (entry.Name == name) return &entry;
        if (!folded && SameFieldName(entry.Name, name)) folded = &entry;
    }
    return folded;
}

TTableDef TDatabase::TableDef(const TCatalogEntry& table) const
{
    return ReadTableDef(FImpl->Pages, table.Page(), table.Name, FImpl->CodePage);
}

std::size_t ReadTableRecords(const TDatabase& db, const TTableDef& def,
                      const std::function<void(const std::vector<TColumnInfo>&)>& onColumns,
                      const std::function<void(const std::vector<TCellValue>&)>& onRecord,
                      const std::function<void()>& progress)
{
    std::vector<TColumnInfo> columns;
    for (const auto& c : def.Columns) columns.push_back(ColumnInfo(c));
    onColumns(columns);
    const TValueDecoder decoder = db.Decoder();
    std::vector<TCellValue> values(def.Columns.size());
    return ScanTable(
        db.Pages(), def,
        [&](const TRowFields& row) {
            for (std::size_t i = 0; i < values.size(); ++i) decoder.Decode(def.Columns[i], row.Present[i], row.Data[i], values[i]);
            onRecord(values);
        },
        progress);
}

}  // namespace quorlin::jet
