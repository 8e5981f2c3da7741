#pragma once
// A table's definition: its columns, its indexes and where its pages are listed.

#include <cstdint>
#include <string>
#include <vector>

#include "values/CellValues.h"
#include "data/format/read/Pages.h"

namespace quorlin::jet {

struct TColumnDef {
    std::string Name;
    TColumnType Type = TColumnType::Text;
    std::uint16_t Number = 0;    // its place in the null mask (deleted columns count)
    std::uint16_t VarIndex = 0;  // its place in the variable-length offset table
    std::uint16_t FixedOffset = 0;
    std::uint16_t Length = 0;
    std::uint16_t CodePage = 0;  // Jet 3 text
    std::uint16_t SortOrder = 0;       // Jet 4 and ACE text: the locale its keys sort by
    std::uint8_t SortVersion = 0;      // and the version of that sort order
    std::uint8_t Flags = 0;
    std::uint8_t Precision = 0;
    std::uint8_t Scale = 0;
    bool Fixed() const noexcept { return (Flags & TColumnFlag::Fixed) != 0; }
    bool AutoLong() const noexcept { return (Flags & TColumnFlag::AutoLong) != 0; }
    bool AutoGuid() const noexcept { return (Flags & TColumnFlag::AutoGuid) != 0; }
};

struct TIndexColumn {
    std::size_t Column = 0;  // into TTableDef::Columns
    bool Ascending = true;
};

// A real index: the tree of keys that one or more logical indexes share.
struct TRealIndex {
    std::vector<TIndexColumn> Columns;
    TRowId OwnedPages;
    std::uint32_t RootPage = 0;
    std::uint8_t Flags = 0;
    std::size_t CountOffset = 0;  // where the first TDEF page keeps its entry count
    std::string Name;             // of the logical index it backs the user knows (see NameRank)
    bool Primary = false;
    bool Unique() const noexcept { return (Flags & TIndexFlag::Unique) != 0; }
    bool IgnoreNulls() const noexcept { return (Flags & TIndexFlag::IgnoreNulls) != 0; }
};

// One side of a relationship whose rules Access enforces (fact 11), as this table keeps it.
struct TReference {
    std::string Name;              // of the logical index
    std::size_t Index = 0;         // the real index over the related fields, into TTableDef::Indexes
    std::uint32_t OtherTable = 0;  // the other table's TDEF page
    std::uint32_t OtherIndex = 0;  // the number of the other table's logical index
    bool Referred = false;         // this table holds the records the other refers to
    bool CascadeUpdates = false;   // set on the referred side
    bool CascadeDeletes = false;
    bool CascadeSetNull = false;
};

struct TLogicalIndex {
    std::uint32_t Number = 0;  // as other tables' references name it
    std::size_t Real = 0;      // into TTableDef::Indexes
};

struct TTableDef {
    std::uint32_t Page = 0;
    std::string Name;
    std::uint32_t RowCount = 0;
    std::uint32_t AutoNumber = 0;
    std::uint16_t MaxColumns = 0;
    bool System = false;  // one of Access's own tables
    std::uint16_t VarColumns = 0;  // rows hold a variable-length part when this is not 0
    TRowId OwnedPages;
    TRowId FreePages;
    std::vector<TColumnDef> Columns;  // in the order of their descriptors, as Access shows them (fact 12)
    std::vector<TRealIndex> Indexes;
    std::vector<TLogicalIndex> LogicalIndexes;
    std::vector<TReference> References;
    std::vector<std::uint32_t> DefinitionPages;  // the first and its continuations
};

// The definition whose first page is page; codePage is the file's (Jet 3 names).
TTableDef ReadTableDef(const TPages& pages, std::uint32_t page, const std::string& name, unsigned codePage);

// The public description of a column.
TColumnInfo ColumnInfo(const TColumnDef& column);

}  // namespace quorlin::jet
