#pragma once
// The catalog: the rows of MSysObjects that name tables and queries (fact 8).

#include <cstdint>
#include <string>
#include <vector>

#include "data/format/read/TableDef.h"

namespace quorlin::jet {

enum class TObjectType : std::int16_t { Table = 1, LinkedTable = 4, Query = 5, LinkedOdbcTable = 6 };

struct TCatalogEntry {
    std::string Name;
    std::uint32_t Id = 0;
    TObjectType Type = TObjectType::Table;
    std::uint32_t Flags = 0;
    // Access's own tables, and the hidden tables it keeps beside them.
    bool System() const noexcept;
    // A table's definition page; a query's id as MSysQueries keeps it.
    std::uint32_t Page() const noexcept;
};

// Tables and queries, in the order the catalog holds them.
std::vector<TCatalogEntry> ReadCatalog(const TPages& pages, unsigned codePage);

}  // namespace quorlin::jet
