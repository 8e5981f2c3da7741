// The order of a table's columns. A table's definition lists a descriptor for each column; each
// descriptor carries the column's number, its place in the record's null mask. The two orders
// agree in a table whose columns were added one after another and never moved, and part where
// a column was moved in the table's design, or where Access made the table itself: Access lists
// the columns of its own tables by name, though it numbered them in another order. Access shows
// the columns in the order of their descriptors, and so does this program, reading and writing
// alike; the number only says where a value lies in the record. The independent reader of the
// format lists them by number.
//
// The tables with the two orders apart are made from regression.mdb by swapping the first two
// descriptors of Plain, names with them, as Access leaves a table whose first two fields were
// swapped in its design.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/StatisticsTestSupport.h"
#include "batch/BatchCommand.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/format/read/Database.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using nlohmann::json;

namespace {

std::string Shell(const std::string& s)
{
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Capture(const std::string& command, int& status)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// The first two column descriptors of the table swapped, their names with them; every other
// byte of the file as it was.
void SwapFirstTwoColumns(const std::string& path, const std::string& table)
{
    std::uint32_t page = 0;
    jet::TFormat f{};
    {
        const jet::TDatabase db(path);
        page = db.FindTable(table)->Page();
        f = db.Format();
    }
    std::string file = ReadBytes(path);
    auto* tdef = reinterpret_cast<std::uint8_t*>(file.data()) + std::size_t{page} * f.PageSize;
    const std::size_t columns = jet::Get16(tdef + f.TdefColumnCount);
    const std::size_t first = f.TdefRealIndexCounts + f.RealIndexCountSize * jet::Get32(tdef + f.TdefRealIndexCount);
    std::swap_ranges(tdef + first, tdef + first + f.ColumnSize, tdef + first + f.ColumnSize);

    std::vector<std::string> names;
    std::uint8_t* const namesStart = tdef + first + f.ColumnSize * columns;
    std::uint8_t* at = namesStart;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t length = f.NameLengthSize + (f.NameLengthSize == 1 ? at[0] : jet::Get16(at));
        names.emplace_back(reinterpret_cast<const char*>(at), length);
        at += length;
    }
    const std::string swapped = names[1] + names[0];
    std::copy(swapped.begin(), swapped.end(), namesStart);
    WriteBytes(path, file);
}

std::string SwappedCopy(const TempFolder& folder)
{
    const std::string path = WritableCopy(folder);
    SwapFirstTwoColumns(path, "Plain");
    return path;
}

std::vector<std::string> Names(const TTableData& t)
{
    std::vector<std::string> names;
    for (const auto& c : t.Columns) names.push_back(c.Info.Name);
    return names;
}

std::vector<double> Numbers(const TTableData& t, const std::string& name)
{
    for (const auto& c : t.Columns)
        if (c.Info.Name == name) return c.Numbers;
    ADD_FAILURE() << "no column " << name;
    return {};
}

// A column as its table's definition lists it: name and number.
using TDescriptor = std::pair<std::string, std::uint16_t>;

std::vector<TDescriptor> Descriptors(const std::string& path, const std::string& table)
{
    const jet::TDatabase db(path);
    std::vector<TDescriptor> columns;
    for (const jet::TColumnDef& c : db.TableDef(*db.FindTable(table)).Columns) columns.emplace_back(c.Name, c.Number);
    return columns;
}

// What the project's checker of written files (tests/tools/jet4_check.py) reads: columns, rows
// and the faults it finds.
json Checked(const std::string& path, const std::string& table)
{
    int status = 0;
    const std::string out = Capture("python3 " + Shell(QUORLIN_JET4_CHECK) + " " + Shell(path) + " " + Shell(table), status);
    const json checked = json::parse(out, nullptr, false);
    if (checked.is_discarded()) ADD_FAILURE() << "the checker failed: " << out;
    return checked;
}

std::string Exported(const std::string& path, const std::string& table)
{
    const std::vector<std::string> args = {"quorlin-batch", "export", path, "--table", table};
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    EXPECT_EQ(RunBatch(static_cast<int>(argv.size()), argv.data(), out, err), 0) << err.str();
    return out.str();
}

}  // namespace

TEST(ColumnOrder, ColumnsComeInTheOrderOfTheirDescriptors)
{
    TempFolder folder;
    const std::string path = SwappedCopy(folder);
    EXPECT_THAT(Descriptors(path, "Plain"), ElementsAre(TDescriptor{"x2", 1}, TDescriptor{"x1", 0}, TDescriptor{"y", 2}));

    const TTableData original = ReadRecordsIsolated(DataFile("regression.mdb"), "Plain", false);
    const TTableData swapped = ReadRecordsIsolated(path, "Plain", false);
    EXPECT_THAT(Names(swapped), ElementsAre("x2", "x1", "y"));
    for (const char* name : {"x1", "x2", "y"}) EXPECT_EQ(Numbers(swapped, name), Numbers(original, name)) << name;
    EXPECT_EQ(Exported(path, "Plain").substr(0, 8), "x2,x1,y\n");
}

// Access's own tables show how it lists columns: its catalog's by name, numbered as they were
// made (Id first). The catalog reads in the order Access shows it.
TEST(ColumnOrder, AccessListsTheColumnsOfItsOwnTablesByNameWhateverTheirNumbers)
{
    const std::string path = ExternalFixtures() + "/testV2010.accdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "testV2010.accdb is not among the shared fixtures";
    const auto columns = Descriptors(path, "MSysObjects");
    std::vector<std::string> names;
    std::map<std::uint16_t, std::string> byNumber;
    for (const auto& [name, number] : columns) {
        names.push_back(name);
        byNumber[number] = name;
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << json(names).dump();
    EXPECT_EQ(names.front(), "Connect");
    EXPECT_EQ(byNumber.begin()->second, "Id");
    EXPECT_NE(byNumber.begin()->second, names.front());
}

// A change names fields in the order the table reads and stores each value at its column's
// number, leaving the definition's order as it was.
TEST(ColumnOrder, AChangeFollowsTheDescriptorsAndStoresByNumber)
{
    TempFolder folder;
    const std::string path = SwappedCopy(folder);
    const TTableData before = ReadRecordsIsolated(path, "Plain", false);
    const TTableData updated = ApplyRecordChange(path, "Plain", {TRecordChange::TKind::Update, 3, {{1, "-7.25"}}});
    ASSERT_THAT(Names(updated), ElementsAre("x2", "x1", "y"));
    std::vector<double> x1 = Numbers(before, "x1");
    x1[3] = -7.25;
    EXPECT_EQ(Numbers(updated, "x1"), x1);
    EXPECT_EQ(Numbers(updated, "x2"), Numbers(before, "x2"));

    const TTableData inserted = ApplyRecordChange(path, "Plain", {TRecordChange::TKind::Insert, 0, {{0, "1.5"}, {2, "2.5"}}});
    ASSERT_EQ(inserted.RecordCount, 16);
    EXPECT_EQ(inserted.Columns[0].Kinds.back(), TCellKind::Number);
    EXPECT_EQ(Numbers(inserted, "x2").back(), 1.5);
    EXPECT_EQ(inserted.Columns[1].Kinds.back(), TCellKind::Null);
    EXPECT_EQ(Numbers(inserted, "y").back(), 2.5);
    EXPECT_THAT(Descriptors(path, "Plain"), ElementsAre(TDescriptor{"x2", 1}, TDescriptor{"x1", 0}, TDescriptor{"y", 2}));

    // The checker, which finds each value at its column's number, reads the same.
    const json checked = Checked(path, "Plain");
    EXPECT_THAT(checked["problems"], IsEmpty()) << checked["problems"].dump();
    EXPECT_EQ(checked["columns"], json({"x2", "x1", "y"}));
    ASSERT_EQ(checked["rows"].size(), 16u);
    EXPECT_EQ(checked["rows"][3], json({Numbers(before, "x2")[3], -7.25, Numbers(before, "y")[3]}));
    EXPECT_EQ(checked["rows"][15], json({1.5, nullptr, 2.5}));
}

// The independent reader lists the columns by number: the same values under the same names, in
// another order. Skipped where it or Java is absent.
TEST(ColumnOrder, TheIndependentReaderListsThemByNumber)
{
    TempFolder folder;
    const std::string path = SwappedCopy(folder);
    const std::string out = (folder / "oracle.json").string();
    int status = 0;
    Capture(Shell(AccessOracle()) + " export-json " + Shell(path) + " " + Shell(out) + " 2>&1", status);
    if (status != 0) GTEST_SKIP() << "the independent reader cannot be run here";
    const json oracle = json::parse(ReadBytes(out))["tables"]["Plain"];
    std::vector<std::string> names;
    for (const auto& column : oracle["columns"]) names.push_back(column[0].get<std::string>());
    EXPECT_THAT(names, ElementsAre("x1", "x2", "y"));

    const TTableData ours = ReadRecordsIsolated(path, "Plain", false);
    ASSERT_EQ(oracle["rows"].size(), static_cast<std::size_t>(ours.RecordCount));
    for (std::size_t c = 0; c < names.size(); ++c) {
        const std::vector<double> values = Numbers(ours, names[c]);
        for (std::size_t r = 0; r < values.size(); ++r) EXPECT_EQ(oracle["rows"][r][c].get<double>(), values[r]) << names[c] << r;
    }
}
