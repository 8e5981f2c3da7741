#include "data/format/read/Catalog.h"

#include "data/format/Damage.h"
#include "data/format/read/TableScan.h"
#include "data/format/read/Values.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

std::size_t CatalogColumn(const TTableDef& catalog, const char* name)
{
    for (std::size_t i = 0; i < catalog.Columns.size(); ++i)
        if (catalog.Columns[i].Name == name) return i;
    Damaged(quorlin::Format(Tr("the catalog has no field '%1$s'"), name));
}

}  // namespace

bool TCatalogEntry::System() const noexcept { return (Flags & catalog::SystemFlags) != 0; }

std::uint32_t TCatalogEntry::Page() const noexcept { return Id & catalog::IdPageMask; }

std::vector<TCatalogEntry> ReadCatalog(const TPages& pages, unsigned codePage)
{
    const TTableDef catalog = ReadTableDef(pages, database_page::CatalogPage, "MSysObjects", codePage);
    const std::size_t nameCol = CatalogColumn(catalog, "Name"), idCol = CatalogColumn(catalog, "Id"),
                      typeCol = CatalogColumn(catalog, "Type"), flagsCol = CatalogColumn(catalog, "Flags");
    const TValueDecoder decoder(pages, codePage);
    std::vector<TCatalogEntry> entries;
    TCellValue name, id, type, flags;
    ScanTable(pages, catalog, [&](const TRowFields& row) {
        auto decode = [&](std::size_t col, TCellValue& v) {
            decoder.Decode(catalog.Columns[col], row.Present[col], row.Data[col], v);
        };
        decode(nameCol, name);
        decode(idCol, id);
        decode(typeCol, type);
        decode(flagsCol, flags);
        if (name.Kind != TCellKind::Text || id.Kind != TCellKind::Number || type.Kind != TCellKind::Number) return;
        const auto objectType = static_cast<std::int16_t>(static_cast<std::int32_t>(type.Number) & catalog::TypeMask);
        if (objectType != static_cast<std::int16_t>(TObjectType::Table) &&
            objectType != static_cast<std::int16_t>(TObjectType::Query))
            return;
        TCatalogEntry entry;
        entry.Name = name.Text;
        entry.Id = static_cast<std::uint32_t>(static_cast<std::int64_t>(id.Number));
        entry.Type = static_cast<TObjectType>(objectType);
        entry.Flags = flags.Kind == TCellKind::Number ? static_cast<std::uint32_t>(static_cast<std::int64_t>(flags.Number)) : 0;
        entries.push_back(std::move(entry));
    });
    return entries;
}

}  // namespace quorlin::jet
