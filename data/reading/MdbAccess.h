#pragma once
// Reading Access database files: catalogs, table records and saved queries. These functions run
// inside the reading process (see Isolation.h), so that whatever a damaged file does to the
// reader, the program goes on.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/records/FileObjects.h"
#include "data/records/TableData.h"
#include "data/reading/Wire.h"
#include "data/views/ViewSource.h"
#include "support/Messages.h"

namespace quorlin {

// The error of a table whose pages are damaged: the table, the file, what is wrong. The reading
// process looks it up before it is confined (ReaderMain.cpp), which loads the catalog it is in.
constexpr const char* DamagedTableText = TrNoop("The table '%1$s' of '%2$s' is damaged: %3$s");

// An Access database file opened for reading.
class TMdbFile : public TViewSource {
public:
    // Raises EProviderError when the file is no readable Access database. fd, when not
    // negative, is the file at path already open. Only a file opened fingerprinted hashes its
    // bytes, which costs a pass over them that listing tables or reading a view does not need.
    explicit TMdbFile(const std::string& path, int fd = -1, bool fingerprinted = false);
    ~TMdbFile() override;
    TMdbFile(const TMdbFile&) = delete;
    TMdbFile& operator=(const TMdbFile&) = delete;

    const std::string& Path() const noexcept;
    // Tables, system tables and views, in the file's own order.
    std::vector<TCatalogObject> Catalog() override;
    // The columns of a table (with its record count), then its records one by one. A damaged
    // table raises EProviderError before any record is passed on; what the user should know of
    // a table read whole is added to Warnings.
    void ReadTable(const std::string& tableName,
                   const std::function<void(const std::vector<TColumnInfo>&, std::int32_t)>& onColumns,
                   const std::function<void(const std::vector<TCellValue>&)>& onRecord, const TProgress& progress) override;
    // The stored definition of a saved query; raises EProviderError when there is none.
    TQueryDefinition QueryDefinition(const std::string& queryName) override;
    // The fingerprint (Fingerprint.h) of a table's records read from this file, when its bytes
    // are still those it had when it was opened; none when another program wrote into it since,
    // or when it was not opened fingerprinted.
    std::optional<std::uint64_t> Fingerprint(const std::string& tableName) const;
    // What the tables read so far gave to tell the user, in the order met.
    const std::vector<std::string>& Warnings() const noexcept;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// The file's user tables, system tables and views (saved select queries without parameters),
// in the file's own order. Raises EProviderError when the file is no readable Access database.
std::vector<TCatalogObject> ReadCatalog(const std::string& path);

// Writes the columns and every record of a table (not a view), values exactly as stored, what
// the reading warns of, the records' fingerprint when the file held still meanwhile, then the end
// mark.
void StreamTableRecords(TMdbFile& file, const std::string& tableName, TWireWriter& w, const TProgress& progress);

}  // namespace quorlin
