#pragma once
// An Access file opened for reading: mapped into memory, its version known, its catalog read.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/format/read/Catalog.h"
#include "data/format/read/TableScan.h"
#include "data/format/read/Values.h"

namespace quorlin::jet {

class TDatabase {
public:
    // Raises EUnreadable when the file cannot be read or is no Access database, EDamaged
    // when its catalog is damaged. fd, when not negative, is the file at path already open; it
    // is read instead of opening path again. onMapped, when given, sees the file's bytes before
    // its catalog is read from them.
    explicit TDatabase(const std::string& path, int fd = -1, const std::function<void(TView)>& onMapped = {});
    ~TDatabase();
    TDatabase(const TDatabase&) = delete;
    TDatabase& operator=(const TDatabase&) = delete;

    const TPages& Pages() const noexcept;
    const TFormat& Format() const noexcept { return Pages().Format(); }
    unsigned CodePage() const noexcept;
    const std::vector<TCatalogEntry>& Catalog() const noexcept;
    // The table of that name (exactly, else ignoring letter case); none when there is none.
    const TCatalogEntry* FindTable(const std::string& name) const;
    TTableDef TableDef(const TCatalogEntry& table) const;
    TValueDecoder Decoder() const noexcept { return TValueDecoder(Pages(), CodePage()); }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Every record of the table as values in column order, with the columns first. Returns the
// number of records read.
std::size_t ReadTableRecords(const TDatabase& db, const TTableDef& def,
                      const std::function<void(const std::vector<TColumnInfo>&)>& onColumns,
                      const std::function<void(const std::vector<TCellValue>&)>& onRecord,
                      const std::function<void()>& progress);

}  // namespace quorlin::jet
