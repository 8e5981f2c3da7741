#pragma once
// Where a view's inputs come from: the catalog of its file, the records of its tables and the
// stored definitions of the queries it reads.

#include <functional>
#include <string>
#include <vector>

#include "data/records/FileObjects.h"
#include "data/records/TableData.h"
#include "data/views/AccessSql.h"

namespace quorlin {

class TViewSource {
public:
    virtual ~TViewSource() = default;
    // Tables, system tables and views, in the file's own order.
    virtual std::vector<TCatalogObject> Catalog() = 0;
    // The columns of a table (with its record count), then its records one by one.
    virtual void ReadTable(const std::string& tableName,
                           const std::function<void(const std::vector<TColumnInfo>&, std::int32_t)>& onColumns,
                           const std::function<void(const std::vector<TCellValue>&)>& onRecord,
                           const TProgress& progress) = 0;
    // The stored definition of a saved query; raises EProviderError when there is none.
    virtual TQueryDefinition QueryDefinition(const std::string& queryName) = 0;
};

}  // namespace quorlin
