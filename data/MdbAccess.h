#pragma once
// Reading Access database files through libmdb. These functions run inside the reading process
// (see Isolation.h): libmdb trusts the file it reads, and a damaged file may crash it.

#include <functional>
#include <string>
#include <vector>

#include "TableData.h"
#include "Wire.h"

namespace quorlin {

enum class TObjectKind : std::uint8_t { Table = 0, View = 1, SystemTable = 2 };

struct TCatalogObject {
    std::string Name;
    TObjectKind Kind = TObjectKind::Table;
};

// Called now and then while a long read goes on, so that the caller can tell progress from a hang.
using TProgress = std::function<void()>;

// The file's user tables, system tables and views (saved select queries without parameters),
// in the file's own order. Raises EProviderError when the file is no readable Access database.
std::vector<TCatalogObject> ReadCatalog(const std::string& path);

// Writes the columns and every record of a table (not a view), values exactly as stored, then
// the end mark.
void StreamTableRecords(const std::string& path, const std::string& tableName, TWireWriter& w,
                        const TProgress& progress);

}  // namespace quorlin
