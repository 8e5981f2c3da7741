#pragma once
// One change to a table's records, planned across the tables related to it as the relationships
// Access enforces (fact 11) require: a record may refer only to a record that is there; a record
// referred to is changed or deleted only as its relationships allow, and the updates, deletes and
// emptied fields they cascade to are planned with it, so that one write makes them all.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "data/format/read/Catalog.h"
#include "data/format/write/PageImage.h"
#include "data/format/read/RowCodec.h"
#include "data/format/write/TableRebuild.h"

namespace quorlin::jet {

// A table the change reaches, and what the change does to it.
struct TPlannedTable {
    TTableDef Def;
    TTableChanges Changes;
};

class TChangePlan {
public:
    // The table and every table related to it, directly or through others, in the file as
    // loaded. Raises ERefused, naming the tables and why, when one of them cannot be changed here
    // or a relationship relates fields this program cannot compare.
    TChangePlan(const TPageImage& image, const TTableDef& table);

    // The change to the table (records as it reads them), and what it cascades to. A new record
    // is given its AutoNumbers.
    void Update(std::size_t record, TFieldValues values);
    void Insert(TFieldValues values);
    void Delete(std::size_t record);

    // Refuses, in Access's words, a plan that leaves a record referring to no record.
    void Check();

    // The changed table first, then the others in the order they were reached; those the change
    // does not reach have no changes.
    const std::vector<TPlannedTable>& Tables() const noexcept { return FTables; }

private:
    // A relationship from one side: this table's index over the related fields, the other table
    // and its index, and the rules (kept by the side referred to).
    struct TLink {
        std::size_t Index = 0;
        std::size_t Other = 0;  // into FTables
        std::size_t OtherIndex = 0;
        bool Referred = false;
        bool CascadeUpdates = false, CascadeDeletes = false, CascadeSetNull = false;
    };
    struct TOperation {
        std::size_t Table = 0;
        std::size_t Record = 0;
        std::optional<TFieldValues> Values;  // none: delete
    };
    // A key a change took away from a table that others may refer to.
    struct TVacated {
        std::size_t Table = 0;
        std::size_t Link = 0;
        TBytes Key;
    };
    using TKeyMap = std::multimap<TBytes, std::size_t>;

    void Reach(const TPages& pages, std::size_t table);
    std::size_t TableAt(const TPages& pages, std::uint32_t page);
    TLink Resolve(std::size_t table, const TReference& ref, std::size_t other) const;

    const std::vector<TView>& Rows(std::size_t table);
    TRowFields Fields(std::size_t table, std::size_t record);
    TBytes Key(std::size_t table, std::size_t index, std::size_t record);
    std::vector<std::size_t> Find(std::size_t table, std::size_t index, const TBytes& key);
    bool Deleted(std::size_t table, std::size_t record) const;
    // Whether the plan gives the record a value for a field of the index (a new record has them
    // all): only then can its key differ from the one the file holds, which Access checked.
    bool SetsIndexField(std::size_t table, std::size_t record, std::size_t index);

    void Run(TOperation first);
    void DeleteRecord(std::size_t table, std::size_t record, std::vector<TOperation>& next);
    void UpdateRecord(std::size_t table, std::size_t record, const TFieldValues& values, std::vector<TOperation>& next);
    TFieldValues* ChangedValues(std::size_t table, std::size_t record);
    TFieldValues Cascaded(std::size_t table, std::size_t record, const TLink& link) const;

    const TPageImage& FImage;
    std::vector<TCatalogEntry> FCatalog;  // read when a relationship first leads elsewhere
    std::vector<TPlannedTable> FTables;
    std::vector<std::vector<TLink>> FLinks;                 // by table
    std::vector<std::optional<std::vector<TView>>> FRows;  // by table, read when first needed
    std::map<std::pair<std::size_t, std::size_t>, TKeyMap> FStoredKeys;  // by table and index
    std::vector<std::pair<std::size_t, std::size_t>> FTouched;  // records given values
    std::vector<TVacated> FVacated;
};

}  // namespace quorlin::jet
