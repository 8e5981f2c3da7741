#include "WritableTable.h"

#include <algorithm>

#include "../../statistics/DataSet.h"
#include "Catalog.h"
#include "Damage.h"
#include "IndexWriter.h"
#include "RowCodec.h"
#include "TextKey.h"

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
        if (col.Type == TColumnType::Text) {
            std::string problem = SortOrderProblem(col);
            if (problem.empty() && !ic.Ascending) problem = "the index sorts it descending, whose text keys are not known here";
            if (!problem.empty())
                return "The table '" + def.Name + "' has an index ('" + index.Name + "') on the text field '" + col.Name +
                       "', which this program cannot keep in order: " + problem + "; the table is read-only here.";
        }
        if (!KeyableColumn(col))
            return "The table '" + def.Name + "' has an index ('" + index.Name + "') on the " + ColumnTypeName(col.Type) +
                   " field '" + col.Name + "', which this program cannot keep in order; the table is read-only here.";
    }
    return {};
}

}  // namespace

TTableDef FindTable(const TPageImage& image, const std::string& name)
{
    const TPages pages = image.Pages();
    const std::vector<TCatalogEntry> catalog = ReadCatalog(pages, 0);  // Jet 4 names need no code page
    const TCatalogEntry* table = UserTable(catalog, name);
    if (!table) Refused("The database engine cannot find the input table '" + name + "' in '" + image.Path() + "'.");
    return ReadTableDef(pages, table->Page(), table->Name, 0);
}

std::string WriteRefusalOf(const TTableDef& def, const TFormat& format)
{
    // The values of such a field live in a hidden table that a deleted record would leave behind.
    for (const TColumnDef& col : def.Columns)
        if (col.Type == TColumnType::Complex)
            return "The table '" + def.Name + "' has the field '" + col.Name +
                   "', which holds attachments or several values each; this program does not keep those, so the table is "
                   "read-only here.";
    for (const TRealIndex& index : def.Indexes) {
        if (index.CountOffset + sizeof(std::uint32_t) > format.PageSize)
            Damaged("the key count of the index '" + index.Name + "' lies beyond the definition's first page");
        if (std::string why = IndexRefusal(def, index); !why.empty()) return why;
    }
    return {};
}

void CheckKeyable(const TPages& pages, const TTableDef& def, const std::vector<TRecordPlace>& places)
{
    if (std::none_of(def.Indexes.begin(), def.Indexes.end(), [&](const TRealIndex& index) {
            return std::any_of(index.Columns.begin(), index.Columns.end(),
                               [&](const TIndexColumn& ic) { return def.Columns[ic.Column].Type == TColumnType::Text; });
        }))
        return;
    TRowFields fields;
    for (const TRecordPlace& place : places) {
        SplitRow(def, pages.Format(), place.Row, fields);
        try {
            for (const TRealIndex& index : def.Indexes) IndexKeyOf(def, index, fields);
        } catch (const ERefused& e) {
            Refused(std::string(e.what()) + " The table is read-only here.");
        }
    }
}

void CheckAssignable(const TColumnDef& column)
{
    if (column.AutoLong() || column.AutoGuid())
        Refused("The field '" + column.Name + "' is an AutoNumber field; its values are assigned by the database.");
}

}  // namespace quorlin::jet
