#pragma once
// The messages between the program and the editing process (quorlin-editor), both sides of each.
//
// The request goes whole on the process's standard input, which it reads to the end before it
// confines itself: what is asked, the database's path (named in messages only: the process opens
// no file), the table, the change, and what the program read of the table. The bytes of the
// database, as the program loaded them under its lock, come on a sealed memory file of their own
// (EditorDatabaseFd). The answer comes as the reading process's does: a failure mark with the
// reason, or the start mark and then what was asked.

#include <cstdint>
#include <optional>
#include <string>
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

struct TBuiltChange {
    std::vector<std::uint8_t> Bytes;  // the whole file with the change made
    std::vector<TRebuiltTable> Tables;
};

void WriteTexts(TWireWriter& w, const std::vector<std::string>& texts);
std::vector<std::string> ReadTexts(TWireReader& r);
void WriteBuiltChange(TWireWriter& w, const TBuiltChange& built);
TBuiltChange ReadBuiltChange(TWireReader& r);

}  // namespace quorlin
