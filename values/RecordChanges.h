#pragma once
// Every change one write makes to a table's records, records counted in the order the table read
// before the write. The format's writer holds the values parsed for the file, the commit the
// cells it checks the read-back against: the same changes, in values of either kind.

#include <cstddef>
#include <map>
#include <set>
#include <vector>

namespace quorlin {

// TValues: the values a change stores in one record.
template <class TValues>
struct TRecordChanges {
    std::map<std::size_t, TValues> Updates;
    std::set<std::size_t> Deletes;
    std::vector<TValues> Inserts;
    bool Empty() const noexcept { return Updates.empty() && Deletes.empty() && Inserts.empty(); }
};

}  // namespace quorlin
