#pragma once
// Indexes over text in a sort order whose keys this program cannot write (fact 10): their entries
// are kept byte for byte as the file holds them, following their records, so that a table keyed
// in such an order can still have its records corrected and deleted. Adding a record, or changing
// a field of such an index, would need a key only Access can write, and is refused.

#include <map>
#include <vector>

#include "data/format/read/Pages.h"
#include "data/format/read/TableDef.h"
#include "data/format/read/TableScan.h"
#include "data/format/write/TableRebuild.h"

namespace quorlin::jet {

// Whether the index holds text in a sort order this program cannot key.
bool KeepsWrittenKeys(const TTableDef& def, const TRealIndex& index);

class TKeptKeys {
public:
    // The entries of every such index of def, read from pages (the file as loaded), for the
    // records at places. An entry missing for a record it should key, or pointing at no record,
    // is damage.
    TKeptKeys(const TPages& pages, const TTableDef& def, const std::vector<TRecordPlace>& places);

    // Refuses, naming the index and its sort order, inserts and updates that change a field of
    // such an index. stored are the records before the change, rows those after.
    void CheckChanges(const TTableDef& def, const TFormat& format, const TTableChanges& changes, const std::vector<TView>& stored,
                      const std::vector<TView>& rows) const;

    // For the index def.Indexes[index], the key of each record after the change, whose stored
    // record origins gives (none for a record the index leaves out); empty for an index whose keys
    // are built.
    std::vector<const TBytes*> KeysOf(std::size_t index, const std::vector<std::size_t>& origins) const;

private:
    std::map<std::size_t, std::vector<TBytes>> FKeys;  // by index: per stored record, empty for none
};

}  // namespace quorlin::jet
