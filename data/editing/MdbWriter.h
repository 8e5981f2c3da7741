#pragma once
// Changing the records of a table in an Access 2000 or later (Jet 4 and ACE) database file.
//
// No library on this platform writes these files safely, so this is our own write path. Each
// change rebuilds the table's data pages and indexes in a copy of the file held in memory,
// refuses before anything is written when the file, the table or a value is outside what we can
// keep consistent, replaces the file whole (a new file beside it, synced, then renamed over it),
// and finally reads the table back through a fresh reading process. The tables a change reaches
// through relationships Access enforces are changed with it, in the same file. When that reading differs
// from what was meant, the previous file is put back and the change is reported as failed.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/editing/RecordChange.h"
#include "data/records/TableData.h"

namespace quorlin {

// Why records of this table cannot be changed, or an empty text when they can. Raises
// EProviderError when the file cannot be read at all.
std::string WriteRefusal(const std::string& path, const std::string& table);

// How the records read earlier bear on a change.
enum class TEarlierRecords : std::uint8_t {
    MustHold,  // the change is made on them: it is refused when the file no longer holds them
    MaySpare,  // nothing of them matters to the change (a new record); they only spare a reading
};

// Makes one change and returns the table as read back afterwards, with the fingerprint of the
// new file. Raises EProviderError, with the file as it was, when the change is refused or fails.
// With readEarlier, the records the change was made on, the change is refused when the file no
// longer holds them (another program changed the table since), unless use is MaySpare. When
// their fingerprint shows they were read from the file exactly as it is, the table is not read
// again before the change: passing the table a previous change returned, as the grid does,
// spares a whole reading.
TTableData ApplyRecordChange(const std::string& path, const std::string& table, const TRecordChange& change,
                             const TTableData* readEarlier = nullptr, TEarlierRecords use = TEarlierRecords::MustHold);

// The table's indexes, one text each: its name, its fields (a descending one marked), whether it
// is the primary key or unique, the sort order of its text and what that order allows here.
// Raises EProviderError when the file cannot be read or the table is not there.
std::vector<std::string> IndexDescriptions(const std::string& path, const std::string& table);

// What deleting the record (0-based) would do to other records through the table's
// relationships, one text a table it reaches ("3 records deleted in the table 'Months'");
// nothing when it reaches none or when the delete would be refused (the delete then says why).
std::vector<std::string> DeleteEffects(const std::string& path, const std::string& table, std::int32_t record);

// For tests: called at each step of a write ("built", "temporary", "synced", "checked" (no other
// program holds the file, nor changed it), "renamed", "verified"); throwing from it stops the
// write there.
void SetWriteStepHook(std::function<void(std::string_view step)> hook);

}  // namespace quorlin
