#pragma once
// The messages between the program and the editing process (quorlin-editor), both sides of each.
//
// The request goes whole on the process's standard input, which it reads to the end before it
// confines itself: what is asked, the database's path (named in messages only: the process opens
// no file), the table, the change, and what the program read of the table. The database itself,
// the very file the program holds locked, comes open for reading only (EditorDatabaseFd); the
// process maps it privately, so that it can change nothing of it, and says which bytes it built
// on, which the program compares with the bytes it loaded. The answer comes as the reading
// process's does: a failure mark with the reason, or the start mark and then what was asked.

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "data/editing/ReadBack.h"
#include "data/editing/RecordChange.h"
#include "data/reading/Wire.h"

namespace quorlin {

// Where the editing process finds the database's bytes.
constexpr int EditorDatabaseFd = 3;

enum class TEditAsk : std::uint8_t {
    Refusal = 'r',  // why the table cannot be changed, or nothing
    Effects = 'e',  // what deleting Change.Record does to other tables
    Change = 'c',   // the file with the change made
    Indexes = 'i',  // the table's indexes, a text each: their fields, sort order and what they allow
};

struct TEditRequest {
    TEditAsk Ask = TEditAsk::Refusal;
    std::string Path;
    std::string Table;
    TRecordChange Change;
    // Change: the fields of the table as the program read it, in order, and its records.
    std::vector<std::string> ReadColumns;
    std::int32_t ReadRecords = 0;
};

// What a change says when it met a damaged file, in the editing process or in what came back
// from it (a process that died or answered what none sends).
std::string DamagedForEditingText(const std::string& path);

void WriteEditRequest(TWireWriter& w, const TEditRequest& request);
TEditRequest ReadEditRequest(TWireReader& r);

// A table the change rebuilt, as the program checks it when it reads it back: the first is the
// changed table, whose records before are the program's; the others', read by the editing
// process from the same bytes, come with them.
struct TRebuiltTable {
    std::string Name;
    TMeantChanges Changes;
    std::vector<std::size_t> DefColumn;
    std::optional<TTableData> Before;
};

// The file with the change made, as the pages that differ from the file the process was handed:
// a change touches a few pages of a file of thousands, and only those cross between processes.
struct TChangedPages {
    std::uint32_t PageSize = 0;
    std::uint64_t FileSize = 0;  // of the new file: pages added at its end are among the changed
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> Pages;
};

// The pages of after that differ from before, page by page, of the pages that may (in order).
TChangedPages ChangedPages(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                           std::uint32_t pageSize, const std::set<std::uint32_t>& candidates);
// before with the pages put in, as the pieces of the new file, views of before and of changed:
// a file of thousands of pages is written without being put together first. Raises EWireError for
// pages that do not fit the file, or that come out of order.
std::vector<std::string_view> WithPages(std::span<const std::uint8_t> before, const TChangedPages& changed);

struct TBuiltChange {
    // FileHash of the bytes the change was built on, as the editing process saw them at the end:
    // the file it was handed may have been written by another program meanwhile.
    std::uint64_t BuiltOn = 0;
    TChangedPages Changed;
    std::vector<TRebuiltTable> Tables;
};

void WriteTexts(TWireWriter& w, const std::vector<std::string>& texts);
std::vector<std::string> ReadTexts(TWireReader& r);
void WriteBuiltChange(TWireWriter& w, const TBuiltChange& built);
TBuiltChange ReadBuiltChange(TWireReader& r);

}  // namespace quorlin
