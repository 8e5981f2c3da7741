#include "data/format/read/TableDef.h"

#include <algorithm>
#include <optional>
#include <set>

#include "data/format/Damage.h"
#include "data/format/read/Text.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// Reads the definition's bytes in order; running past their end is damage.
class TDefinitionCursor {
public:
    TDefinitionCursor(const TBytes& bytes, const TFormat& format, unsigned codePage, const std::string& table)
        : FBytes(bytes), FFormat(format), FCodePage(codePage), FTable(table)
    {
    }
    const std::uint8_t* Take(std::size_t n)
    {
        if (FPos + n > FBytes.size()) Damaged(quorlin::Format(Tr("the definition of the table '%1$s' is cut short"), FTable));
        const std::uint8_t* p = FBytes.data() + FPos;
        FPos += n;
        return p;
    }
    std::string Name()
    {
        const std::uint8_t* lengthField = Take(FFormat.NameLengthSize);
        const std::size_t n = FFormat.NameLengthSize == 1 ? lengthField[0] : Get16(lengthField);
        return DecodeText(TView(Take(n), n), FFormat, FCodePage);
    }

private:
    const TBytes& FBytes;
    const TFormat& FFormat;
    unsigned FCodePage;
    const std::string& FTable;
    std::size_t FPos = 0;
};

// Fact 5: the first page whole, then each continuation page after its header.
TBytes DefinitionBytes(const TPages& pages, std::uint32_t first, const std::string& name, std::vector<std::uint32_t>& chain)
{
    const TFormat& f = pages.Format();
    TBytes block;
    std::set<std::uint32_t> seen;
    for (std::uint32_t p = first; p != 0; p = Get32(pages.Page(p) + f.TdefNextPage)) {
        if (!seen.insert(p).second) Damaged(quorlin::Format(Tr("the definition of the table '%1$s' runs in a loop"), name));
        if (pages.Type(p) != TPageType::TableDefinition)
            Damaged(quorlin::Format(Tr("page %1$s of the definition of the table '%2$s' is no definition page"), p, name));
        const std::uint8_t* bytes = pages.Page(p);
        block.insert(block.end(), p == first ? bytes : bytes + f.TdefContinuation, bytes + f.PageSize);
        chain.push_back(p);
    }
    return block;
}

TColumnDef ReadColumn(const std::uint8_t* d, const TFormat& f)
{
    TColumnDef col;
    col.Type = static_cast<TColumnType>(d[f.ColumnType]);
    col.Number = Get16(d + f.ColumnNumber);
    col.VarIndex = Get16(d + f.ColumnVarIndex);
    if (f.Version == TVersion::Jet3 && col.Type == TColumnType::Text) col.CodePage = Get16(d + f.ColumnCodePage);
    if (f.Version != TVersion::Jet3 && col.Type == TColumnType::Text) {
        col.SortOrder = Get16(d + f.ColumnSortOrder);
        col.SortVersion = d[f.ColumnSortVersion];
    }
    col.Precision = d[f.ColumnPrecision];
    col.Scale = d[f.ColumnScale];
    col.Flags = d[f.ColumnFlags];
    col.FixedOffset = Get16(d + f.ColumnFixedOffset);
    col.Length = Get16(d + f.ColumnLength);
    return col;
}

TRealIndex ReadRealIndex(const std::uint8_t* d, const TFormat& f, const TTableDef& def)
{
    TRealIndex index;
    for (std::size_t k = 0; k < IndexColumnSlots; ++k) {
        const std::uint8_t* slot = d + f.RealIndexColumns + 3 * k;
        const std::uint16_t number = Get16(slot);
        if (number == NoIndexColumn) continue;
        const auto it = std::find_if(def.Columns.begin(), def.Columns.end(),
                                     [&](const TColumnDef& c) { return c.Number == number; });
        if (it == def.Columns.end()) Damaged(quorlin::Format(Tr("an index of the table '%1$s' names no column of it"), def.Name));
        index.Columns.push_back({static_cast<std::size_t>(it - def.Columns.begin()), slot[2] == AscendingIndexColumn});
    }
    index.OwnedPages = TRowId::Unpack(Get32(d + f.RealIndexOwnedPages));
    index.RootPage = Get32(d + f.RealIndexRoot);
    index.Flags = d[f.RealIndexFlags];
    return index;
}

// A logical index's descriptor, its name still to come.
struct TLogicalEntry {
    TLogicalIndex Index;
    bool Primary = false;
    std::optional<TReference> Reference;
};

// A tree shared by several logical indexes is named, in what the user reads, after the one the
// user made: the primary key first, then an index of the table's design, and only then the
// index a relationship keeps for itself (named by Access, such as ".rC"). Lower ranks first.
constexpr int NoName = 3;
int NameRank(const TLogicalEntry& l) noexcept { return l.Primary ? 0 : l.Reference ? 2 : 1; }

TLogicalEntry ReadLogicalIndex(const std::uint8_t* d, const TFormat& f)
{
    TLogicalEntry e;
    e.Index = {Get32(d + f.LogicalIndexNumber), Get32(d + f.LogicalIndexReal)};
    e.Primary = d[f.LogicalIndexType] == PrimaryKeyIndex;
    const std::uint32_t related = Get32(d + f.LogicalIndexRelated);
    if (related == NoRelatedIndex) return e;
    TReference& r = e.Reference.emplace();
    r.Index = e.Index.Real;
    r.OtherTable = Get32(d + f.LogicalIndexRelatedTable);
    r.OtherIndex = related;
    r.Referred = d[f.LogicalIndexSide] == TRelatedSide::Referred;
    r.CascadeUpdates = d[f.LogicalIndexCascadeUpdates] == TCascade::Cascade;
    r.CascadeDeletes = d[f.LogicalIndexCascadeDeletes] == TCascade::Cascade;
    r.CascadeSetNull = d[f.LogicalIndexCascadeDeletes] == TCascade::SetNull;
    return e;
}

constexpr std::size_t MaxIndexes = 1000;  // beyond what Access allows: a count this large is damage

}  // namespace

TTableDef ReadTableDef(const TPages& pages, std::uint32_t page, const std::string& name, unsigned codePage)
{
    const TFormat& f = pages.Format();
    TTableDef def;
    def.Page = page;
    def.Name = name;
    const TBytes block = DefinitionBytes(pages, page, name, def.DefinitionPages);
    TDefinitionCursor c(block, f, codePage, name);
    const std::uint8_t* head = c.Take(f.TdefRealIndexCounts);
    def.RowCount = Get32(head + f.TdefRowCount);
    def.AutoNumber = Get32(head + f.TdefAutoNumber);
    def.System = head[f.TdefTableType] == SystemTableType;
    def.MaxColumns = Get16(head + f.TdefMaxColumns);
    def.VarColumns = Get16(head + f.TdefVarColumns);
    const std::size_t columnCount = Get16(head + f.TdefColumnCount);
    const std::size_t logicalCount = Get32(head + f.TdefLogicalIndexCount);
    const std::size_t realCount = Get32(head + f.TdefRealIndexCount);
    if (realCount > MaxIndexes || logicalCount > MaxIndexes)
        Damaged(quorlin::Format(Tr("the definition of the table '%1$s' claims too many indexes"), name));
    def.OwnedPages = TRowId::Unpack(Get32(head + f.TdefOwnedPages));
    def.FreePages = TRowId::Unpack(Get32(head + f.TdefFreePages));

    c.Take(f.RealIndexCountSize * realCount);
    for (std::size_t i = 0; i < columnCount; ++i) {
        def.Columns.push_back(ReadColumn(c.Take(f.ColumnSize), f));
        if (def.Columns.back().Number >= def.MaxColumns)
            Damaged(quorlin::Format(Tr("a column of the table '%1$s' lies beyond the table's columns"), name));
    }
    for (auto& col : def.Columns) col.Name = c.Name();

    for (std::size_t i = 0; i < realCount; ++i) {
        def.Indexes.push_back(ReadRealIndex(c.Take(f.RealIndexSize), f, def));
        def.Indexes.back().CountOffset = f.TdefRealIndexCounts + f.RealIndexCountSize * i + f.RealIndexCountRows;
    }
    std::vector<TLogicalEntry> logicals;
    for (std::size_t i = 0; i < logicalCount; ++i) logicals.push_back(ReadLogicalIndex(c.Take(f.LogicalIndexSize), f));
    std::vector<int> named(def.Indexes.size(), NoName);
    for (TLogicalEntry& l : logicals) {
        const std::string indexName = c.Name();
        if (l.Index.Real >= def.Indexes.size()) Damaged(quorlin::Format(Tr("an index of the table '%1$s' has no tree"), name));
        TRealIndex& index = def.Indexes[l.Index.Real];
        if (const int rank = NameRank(l); rank < named[l.Index.Real]) {
            index.Name = indexName;
            named[l.Index.Real] = rank;
        }
        if (l.Primary) index.Primary = true;
        def.LogicalIndexes.push_back(l.Index);
        if (l.Reference) {
            l.Reference->Name = indexName;
            def.References.push_back(*l.Reference);
        }
    }
    return def;
}

TColumnInfo ColumnInfo(const TColumnDef& column)
{
    TColumnInfo info;
    info.Name = column.Name;
    info.Type = column.Type;
    info.Size = column.Length;
    info.Precision = column.Precision;
    info.Scale = column.Scale;
    info.AutoNumber = column.AutoLong();
    return info;
}

}  // namespace quorlin::jet
