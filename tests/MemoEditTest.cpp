// Notes in memo fields changed through the write path, on a copy of regression.mdb (Access 2000)
// and of notes.accdb (Access 2007, made by the independent reader's library, whose own long
// values the changes replace): short notes, notes of about 2 KB and of about 20 KB, Chinese and
// Latin mixed. The independent reader then finds the tables sound and every note as meant.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>

#include "tests/StatisticsTestSupport.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/records/ProviderError.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using nlohmann::json;
using K = TRecordChange::TKind;

namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool OracleRuns(const std::string& arguments)
{
    return std::system((AccessOracle() + " " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

bool OracleAvailable() { return OracleRuns("dump " + Quoted(DataFile("regression.mdb"))); }

// The rows of the table as the independent reader exports them.
json Exported(const std::string& db, const std::string& table)
{
    const std::string out = db + ".json";
    EXPECT_TRUE(OracleRuns("export-json " + Quoted(db) + " " + Quoted(out)));
    const json all = json::parse(ReadBytes(out), nullptr, false);
    return all.is_discarded() ? json() : all["tables"][table]["rows"];
}

// The columns as the independent reader exports them: [name, type] each.
json Columns(const std::string& db, const std::string& table)
{
    const std::string out = db + ".json";
    EXPECT_TRUE(OracleRuns("export-json " + Quoted(db) + " " + Quoted(out)));
    const json all = json::parse(ReadBytes(out), nullptr, false);
    return all.is_discarded() ? json::array() : all["tables"][table]["columns"];
}

std::size_t NoteColumn(const json& columns)
{
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (columns[c][0] == "Note") return c;
    ADD_FAILURE() << "no field Note";
    return 0;
}

// Row by row, so that a difference names its record and is not lost in 20 KB notes.
void ExpectRows(const json& exported, const json& model)
{
    ASSERT_EQ(exported.size(), model.size());
    for (std::size_t r = 0; r < model.size(); ++r)
        EXPECT_TRUE(exported[r] == model[r]) << "record " << r + 1 << ": " << exported[r].dump().substr(0, 300);
}

// A note n characters long, as a forecaster writes one.
std::string Note(std::size_t n, char seed)
{
    static const std::vector<std::string> pieces{"降", "水", " ", "r", "a", "i", "n", "-", "站", "é", "7", "\n"};
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += i == 0 ? std::string(1, seed) : pieces[(i * 5 + i / 11) % pieces.size()];
    return s;
}

struct TNoteCase {
    std::string File;
    std::string Table;
};

class MemoEditing : public ::testing::TestWithParam<TNoteCase> {};

TEST_P(MemoEditing, ShortTwoAndTwentyKilobyteNotesReadAsMeantByTheIndependentReader)
{
    if (!OracleAvailable()) GTEST_SKIP() << "the independent reader is not available";
    const TNoteCase& c = GetParam();
    TempFolder folder;
    const std::string db = (folder / c.File).string();
    std::filesystem::copy_file(DataFile(c.File), db);
    std::filesystem::permissions(db, std::filesystem::perms(0644));
    const json columns = Columns(db, c.Table);
    const auto note = static_cast<std::int32_t>(NoteColumn(columns));
    json model = Exported(db, c.Table);
    ASSERT_GE(model.size(), 3u);

    const auto update = [&](std::int32_t record, const std::optional<std::string>& text) {
        ApplyRecordChange(db, c.Table, TRecordChange{K::Update, record, {{note, text}}});
        model[static_cast<std::size_t>(record)][static_cast<std::size_t>(note)] = text ? json(*text) : json(nullptr);
    };
    update(0, Note(12, 'a'));
    update(1, Note(1000, 'b'));   // about 2 KB
    update(2, Note(10000, 'c'));  // about 20 KB
    update(1, Note(10500, 'd'));  // a chain where one row was
    update(2, Note(30, 'e'));     // the chain given back
    update(0, std::nullopt);
    ApplyRecordChange(db, c.Table, TRecordChange{K::Insert, 0, {{note, Note(9000, 'f')}}});
    json inserted = json::array();  // the fields left out empty, Yes/No No
    for (const json& column : columns) inserted.push_back(column[1] == "BOOLEAN" ? json(false) : json(nullptr));
    inserted[static_cast<std::size_t>(note)] = Note(9000, 'f');
    model.push_back(inserted);
    ApplyRecordChange(db, c.Table, TRecordChange{K::Delete, 1, {}});
    model.erase(model.begin() + 1);

    EXPECT_TRUE(OracleRuns("verify " + Quoted(db) + " " + Quoted(c.Table)));
    EXPECT_TRUE(OracleRuns("indexcheck " + Quoted(db)));
    ExpectRows(Exported(db, c.Table), model);
}

// A refused note leaves the file byte for byte as it was, and says which field.
TEST_P(MemoEditing, ANoteTooLongForAccessIsRefusedAndNothingWritten)
{
    const TNoteCase& c = GetParam();
    TempFolder folder;
    const std::string db = (folder / c.File).string();
    std::filesystem::copy_file(DataFile(c.File), db);
    std::filesystem::permissions(db, std::filesystem::perms(0644));
    const std::string before = ReadBytes(db);
    std::int32_t note = 0;
    while (ReadRecordsIsolated(db, c.Table, false).Columns[static_cast<std::size_t>(note)].Info.Name != "Note") ++note;
    try {
        ApplyRecordChange(db, c.Table, TRecordChange{K::Update, 1, {{note, std::string(70000, 'x')}}});
        ADD_FAILURE() << "a note of 70000 characters was taken";
    } catch (const EProviderError& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("'Note'"));
    }
    EXPECT_EQ(ReadBytes(db), before);
}

INSTANTIATE_TEST_SUITE_P(Files, MemoEditing,
                         ::testing::Values(TNoteCase{"regression.mdb", "Types"}, TNoteCase{"notes.accdb", "Notes"}),
                         [](const ::testing::TestParamInfo<TNoteCase>& info) { return info.param.Table; });

}  // namespace
