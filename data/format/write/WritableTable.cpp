#include "data/format/write/WritableTable.h"

#include <algorithm>

#include "values/FieldName.h"
#include "data/format/read/Catalog.h"
#include "data/format/Damage.h"
#include "data/format/read/RowCodec.h"
#include "data/format/write/KeptKeys.h"
#include "data/format/write/TextKey.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

const TCatalogEntry* UserTable(const std::vector<TCatalogEntry>& catalog, const std::string& name)
{
    const TCatalogEntry* folded = nullptr;
    for (const TCatalogEntry& entry : catalog) {
        if (entry.Type != TObjectType::Table) continue;
        if (entry.Name == name) return entry.System() ? nullptr : &entry;
        if (!folded && SameFieldName(entry.Name, name)) folded = &entry;
    }
    return folded && !folded->System() ? folded : nullptr;
}

// Keys we can build: numbers kept in the record's fixed part (not Decimal), and text.
bool KeyableColumn(const TColumnDef& col)
{
    if (col.Type == TColumnType::Text) return true;
    return HasNumericReading(col.Type) && col.Type != TColumnType::Decimal && col.Fixed();
}

std::string IndexRefusal(const TTableDef& def, const TRealIndex& index)
{
    for (const TIndexColumn& ic : index.Columns) {
        const TColumnDef& col = def.Columns[ic.Column];
        if (!KeyableColumn(col))
            return quorlin::Format(Tr("The table '%1$s' has an index ('%2$s') on the %3$s field '%4$s', which this program cannot "
                                      "keep in order; the table is read-only here."),
                                   def.Name, index.Name, ShownColumnTypeName(col.Type), col.Name);
    }
    return {};
}

}  // namespace

TTableDef FindTable(const TPageImage& image, const std::string& name)
{
    const TPages pages = image.Pages();
    const std::vector<TCatalogEntry> catalog = ReadCatalog(pages, 0);  // Jet 4 names need no code page
    const TCatalogEntry* table = UserTable(catalog, name);
    if (!table)
        Refused(quorlin::Format(Tr("The database engine cannot find the input table '%1$s' in '%2$s'."), name, image.Path()));
    return ReadTableDef(pages, table->Page(), table->Name, 0);
}

std::string WriteRefusalOf(const TTableDef& def, const TFormat& format)
{
    // The values of such a field live in a hidden table that a deleted record would leave behind.
    for (const TColumnDef& col : def.Columns)
        if (col.Type == TColumnType::Complex)
            return quorlin::Format(Tr("The table '%1$s' has the field '%2$s', which holds attachments or several values each; "
                                      "this program does not keep those, so the table is read-only here."),
                                   def.Name, col.Name);
    for (const TRealIndex& index : def.Indexes) {
        if (index.CountOffset + sizeof(std::uint32_t) > format.PageSize)
            Damaged(quorlin::Format(Tr("the key count of the index '%1$s' lies beyond the definition's first page"), index.Name));
        if (std::string why = IndexRefusal(def, index); !why.empty()) return why;
    }
    return {};
}

std::string DescribeIndex(const TTableDef& def, const TRealIndex& index)
{
    std::string fields, order = "-";
    const TColumnDef* text = nullptr;
    for (const TIndexColumn& ic : index.Columns) {
        const TColumnDef& col = def.Columns[ic.Column];
        if (!fields.empty()) fields += ", ";
        fields += ic.Ascending ? col.Name : quorlin::Format(Tr("%1$s (descending)"), col.Name);
        if (col.Type == TColumnType::Text && !text) {
            text = &col;
            order = SortOrderName(col);
        }
    }
    std::string keys = Tr("keys written");
    if (!IndexRefusal(def, index).empty())
        keys = Tr("the table is read-only here");
    else if (KeepsWrittenKeys(def, index))
        keys = Tr("keys kept as Access wrote them: records can be corrected and deleted, not added, and these fields not changed");
    const std::string kind = index.Primary ? Tr("primary key") : index.Unique() ? Tr("unique") : "-";
    return index.Name + "\t" + fields + "\t" + kind + "\t" + order + "\t" + keys;
}

void CheckAssignable(const TColumnDef& column)
{
    if (column.AutoLong() || column.AutoGuid())
        Refused(quorlin::Format(Tr("The field '%1$s' is an AutoNumber field; its values are assigned by the database."), column.Name));
}

}  // namespace quorlin::jet
