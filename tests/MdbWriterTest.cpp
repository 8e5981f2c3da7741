// The write path, checked from outside: after every change the file is read by a fresh reading
// process (our reader), by mdb-export, and by an independent reader of the file format
// (tests/tools/jet4_check.py) that also walks every index and usage map.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <random>

#include "tests/Refusals.h"
#include "tests/ScopedEnvironment.h"
#include "tests/StatisticsTestSupport.h"
#include "data/editing/MdbWriter.h"
#include "data/provider/Provider.h"
#include "data/format/read/Database.h"
#include "data/format/read/IndexTree.h"
#include "data/format/read/RowCodec.h"
#include "data/format/read/TableScan.h"
#include "data/format/write/IndexWriter.h"
#include "data/format/write/PageImage.h"
#include "data/format/write/WritableTable.h"
#include "statistics/Statistics01.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

using TRow = std::vector<std::optional<double>>;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

std::string Capture(const std::string& command, int* status = nullptr)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    if (status) *status = WEXITSTATUS(rc);
    return out;
}

// What the independent reader finds: the rows (numbers, NULL as nullopt) and its complaints.
struct TChecked {
    std::vector<TRow> Rows;
    std::vector<std::string> Problems;
};

TChecked CheckFormat(const std::string& db, const std::string& table)
{
    int status = 0;
    const std::string out = Capture("python3 " + Quoted(QUORLIN_JET4_CHECK) + " " + Quoted(db) + " " + Quoted(table), &status);
    TChecked checked;
    const auto json = nlohmann::json::parse(out, nullptr, false);
    if (json.is_discarded() || status > 1) {
        checked.Problems.push_back("checker failed: " + out);
        return checked;
    }
    for (const auto& p : json["problems"]) checked.Problems.push_back(p.get<std::string>());
    for (const auto& r : json["rows"]) {
        TRow row;
        for (const auto& v : r) {
            if (v.is_null())
                row.push_back(std::nullopt);
            else if (v.is_boolean())
                row.push_back(v.get<bool>() ? -1.0 : 0.0);
            else if (v.is_number())
                row.push_back(v.get<double>());
            else
                row.push_back(std::nan(""));  // text: not compared here
        }
        checked.Rows.push_back(std::move(row));
    }
    return checked;
}

// A table opened through a connection of its own, as the program opens it.
struct EditedTable {
    explicit EditedTable(const std::string& db, const std::string& table) : Query(Connection)
    {
        Connection.SetConnectionString(TConnectionString::Build(JetProvider, db));
        Connection.Open();
        Query.SQL().Add("SELECT * FROM [" + table + "]");
        Query.Open();
    }
    TMdbConnection Connection;
    TMdbQuery Query;
};

// The rows through a fresh connection, as the program reads them.
std::vector<TRow> ReadFresh(const std::string& db, const std::string& table)
{
    EditedTable t(db, table);
    TMdbQuery& query = t.Query;
    std::vector<TRow> rows;
    for (query.First(); !query.Eof(); query.Next()) {
        TRow row;
        for (std::int32_t f = 0; f < query.FieldCount(); ++f) {
            if (query.IsNull(f))
                row.push_back(std::nullopt);
            else
                row.push_back(IsTextual(query.Field(f).Type) ? std::optional<double>(std::nan(""))
                                                             : std::optional<double>(query.Number(f)));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::size_t ExportedRecords(const std::string& db, const std::string& table)
{
    int status = 0;
    const std::string out = Capture("mdb-export " + Quoted(db) + " " + Quoted(table), &status);
    EXPECT_EQ(status, 0);
    return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) - 1;  // less the header
}

bool SameRows(const std::vector<TRow>& a, const std::vector<TRow>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (std::size_t j = 0; j < a[i].size(); ++j) {
            if (a[i][j].has_value() != b[i][j].has_value()) return false;
            if (a[i][j] && !(std::isnan(*a[i][j]) && std::isnan(*b[i][j])) && *a[i][j] != *b[i][j]) return false;
        }
    }
    return true;
}

// Every reader agrees with what we meant the table to hold, and the checker finds no fault.
void ExpectTable(const std::string& db, const std::string& table, const std::vector<TRow>& expected)
{
    const TChecked checked = CheckFormat(db, table);
    EXPECT_THAT(checked.Problems, IsEmpty()) << table;
    EXPECT_TRUE(SameRows(checked.Rows, expected)) << table << ": the independent reader differs";
    EXPECT_TRUE(SameRows(ReadFresh(db, table), expected)) << table << ": a fresh reading differs";
    EXPECT_EQ(ExportedRecords(db, table), expected.size()) << table;
}

TRecordChange Change(TRecordChange::TKind kind, std::int32_t record, std::vector<TFieldText> values = {})
{
    return TRecordChange{kind, record, std::move(values)};
}

using K = TRecordChange::TKind;

TEST(WriteRoundTrip, ChangeInsertDeleteKeepEveryReaderInAgreement)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    for (const std::string table : {"Plain", "Keyed", "降水"}) {
        std::vector<TRow> model = ReadFresh(db, table);
        const std::int32_t first = table == "Keyed" ? 1 : 0;  // Keyed numbers its records itself
        ApplyRecordChange(db, table, Change(K::Update, 4, {{first, "-12.5"}, {first + 1, std::nullopt}}));
        model[4][static_cast<std::size_t>(first)] = -12.5;
        model[4][static_cast<std::size_t>(first + 1)] = std::nullopt;
        ExpectTable(db, table, model);

        ApplyRecordChange(db, table, Change(K::Insert, 0, {{first, "1e300"}}));
        TRow added(model[0].size(), std::nullopt);
        added[static_cast<std::size_t>(first)] = 1e300;
        if (table == "Keyed") added[0] = 16.0;  // the next autonumber
        model.push_back(added);
        ExpectTable(db, table, model);

        ApplyRecordChange(db, table, Change(K::Delete, 0));
        model.erase(model.begin());
        ExpectTable(db, table, model);
    }
    // The other tables of the file are untouched.
    EXPECT_TRUE(SameRows(ReadFresh(db, "ElNino"), ReadFresh(DataFile("regression.mdb"), "ElNino")));
}

TEST(WriteRoundTrip, EveryNumberKindDateAndYesNoStoreExactly)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    // L I B F M N D YesNo Note y
    ApplyRecordChange(db, "Types",
                      Change(K::Update, 1,
                             {{0, "-2147483648"}, {1, "32767"}, {2, "255"}, {3, "0.1"}, {4, "-922337203685477.5808"},
                              {6, "1850-06-01 13:45:10"}, {7, "yes"}, {9, "2.5e-300"}}));
    const auto rows = ReadFresh(db, "Types");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(*rows[1][0], -2147483648.0);
    EXPECT_EQ(*rows[1][1], 32767.0);
    EXPECT_EQ(*rows[1][2], 255.0);
    EXPECT_EQ(*rows[1][3], static_cast<double>(0.1f));
    EXPECT_EQ(*rows[1][4], -922337203685477.5808);
    EXPECT_EQ(*rows[1][5], -2.5);  // Decimal untouched
    EXPECT_EQ(FormatDayNumber(*rows[1][6]), "1850-06-01 13:45:10");
    EXPECT_EQ(*rows[1][7], -1.0);
    EXPECT_EQ(*rows[1][9], 2.5e-300);
    ApplyRecordChange(db, "Types", Change(K::Update, 2, {{5, "-12345678901234.56789"}}));
    EXPECT_EQ(*ReadFresh(db, "Types")[2][5], -12345678901234.5679);
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Types", Change(K::Update, 2, {{5, "1e5"}})); }), HasSubstr("'N'"));
    EXPECT_THAT(CheckFormat(db, "Types").Problems, IsEmpty());

    // Text in and out, Chinese included, and the memo of the record kept.
    ApplyRecordChange(db, "Stations", Change(K::Update, 0, {{0, "北京 54511"}}));
    EXPECT_EQ(EditedTable(db, "Stations").Query.Text(0), "北京 54511");
    EditedTable types(db, "Types");
    types.Query.MoveBy(1);
    EXPECT_EQ(types.Query.Text(8), "second");
}

// Enough records to need new data pages and an index tree of more than one page, then enough
// deletions to shrink it again; the model is checked against every reader at checkpoints.
TEST(WriteRoundTrip, GrowthBeyondOnePageAndBackOnKeyedAndPlain)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> value(-1000.0, 1000.0);
    for (const std::string table : {"Keyed", "Plain"}) {
        std::vector<TRow> model = ReadFresh(db, table);
        const std::size_t first = table == "Keyed" ? 1 : 0;
        double nextId = 16.0;
        auto insert = [&]() {
            const double x = std::round(value(random) * 1000.0) / 1000.0;
            ApplyRecordChange(db, table, Change(K::Insert, 0, {{static_cast<std::int32_t>(first), FormatGeneral(x)}}));
            TRow row(model[0].size(), std::nullopt);
            row[first] = x;
            if (first == 1) row[0] = nextId++;
            model.push_back(row);
        };
        const int inserts = table == "Keyed" ? 420 : 140;
        for (int i = 0; i < inserts; ++i) insert();
        ExpectTable(db, table, model);
        for (int i = 0; i < inserts / 2; ++i) {
            const auto at = static_cast<std::int32_t>(random() % model.size());
            ApplyRecordChange(db, table, Change(K::Delete, at));
            model.erase(model.begin() + at);
            if (i % 7 == 0) {
                const auto at2 = static_cast<std::int32_t>(random() % model.size());
                ApplyRecordChange(db, table, Change(K::Update, at2, {{static_cast<std::int32_t>(first + 2), "0.25"}}));
                model[static_cast<std::size_t>(at2)][first + 2] = 0.25;
            }
        }
        ExpectTable(db, table, model);
    }
}

// The record count in the table's definition set to count, as Access sometimes leaves it.
void SetRecordCount(const std::string& db, const std::string& table, std::uint32_t count)
{
    std::size_t at = 0;
    {
        const jet::TDatabase file(db);
        at = std::size_t{file.FindTable(table)->Page()} * file.Format().PageSize + file.Format().TdefRowCount;
    }
    std::string bytes = ReadBytes(db);
    jet::Put32(reinterpret_cast<std::uint8_t*>(bytes.data()) + at, count);
    WriteBytes(db, bytes);
}

std::uint32_t RecordCount(const std::string& db, const std::string& table)
{
    const jet::TDatabase file(db);
    return file.TableDef(*file.FindTable(table)).RowCount;
}

// A table whose definition counts other records than it holds (Access does not always keep the
// count) takes every kind of change as the grid makes it, and each stores the count of the
// records it leaves, whether it rewrites only the page it touches (Plain, without indexes) or
// lays the table out anew (Keyed). The warning the reading gave goes with it.
TEST(WriteRoundTrip, AChangeStoresTheTrueRecordCount)
{
    for (const std::string table : {"Plain", "Keyed"}) {
        for (const K kind : {K::Update, K::Insert, K::Delete}) {
            SCOPED_TRACE(table + " " + std::to_string(static_cast<int>(kind)));
            TempFolder folder;
            const std::string db = WritableCopy(folder);
            SetRecordCount(db, table, 11);
            std::vector<TRow> model = ReadFresh(db, table);
            ASSERT_EQ(model.size(), 15u);
            const std::int32_t first = table == "Keyed" ? 1 : 0;

            EditedTable t(db, table);
            TMdbQuery& q = t.Query;
            ASSERT_THAT(q.Warnings(), ElementsAre(HasSubstr("holds 15 records where its definition counts 11")));
            ASSERT_TRUE(q.CanModify()) << q.ReadOnlyReason();
            if (kind == K::Update) {
                q.MoveBy(4);
                q.SetFieldText(first, "-12.5");
                q.Post();
                model[4][static_cast<std::size_t>(first)] = -12.5;
            } else if (kind == K::Insert) {
                q.Append();
                q.SetFieldText(first, "3.25");
                q.Post();
                TRow added(model[0].size(), std::nullopt);
                added[static_cast<std::size_t>(first)] = 3.25;
                if (table == "Keyed") added[0] = 16.0;
                model.push_back(added);
            } else {
                q.Delete();
                model.erase(model.begin());
            }
            EXPECT_THAT(q.Warnings(), IsEmpty());
            EXPECT_EQ(RecordCount(db, table), model.size());
            ExpectTable(db, table, model);  // the checker holds the count to the records
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(WriteRefusals, LeaveTheFileByteForByteUnchanged)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    struct TCase {
        std::string Table;
        TRecordChange Change;
        std::string Says;
    };
    const std::vector<TCase> cases = {
        {"Types", Change(K::Update, 0, {{1, "32768"}}), "'I'"},
        {"Types", Change(K::Update, 0, {{2, "-1"}}), "'B'"},
        {"Types", Change(K::Update, 0, {{0, "1.5"}}), "'L'"},
        {"Types", Change(K::Update, 0, {{3, "1e39"}}), "'F'"},
        {"Types", Change(K::Update, 0, {{4, "922337203685477.5808"}}), "'M'"},
        {"Types", Change(K::Update, 0, {{6, "2023-02-29"}}), "'D'"},
        {"Types", Change(K::Update, 0, {{7, "maybe"}}), "'YesNo'"},
        {"Types", Change(K::Update, 0, {{8, std::string(65536, 'x')}}), "holds at most 65535"},
        {"Types", Change(K::Update, 0, {{9, "abc"}}), "'y'"},
        {"Stations", Change(K::Update, 0, {{0, std::string(256, 'x')}}), "at most 255"},
        {"Keyed", Change(K::Update, 0, {{0, "99"}}), "AutoNumber"},
        {"Keyed", Change(K::Insert, 0, {{0, "99"}}), "AutoNumber"},
        {"Plain", Change(K::Delete, 15), "no record 16"},
        {"Plain", Change(K::Update, -1, {{0, "1"}}), "no record 0"},
        {"WarmDays", Change(K::Delete, 0), "cannot find"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, c.Table, c.Change); }), HasSubstr(c.Says)) << c.Says;
        EXPECT_EQ(ReadBytes(db), original) << c.Says;
    }
    EXPECT_THAT(folder.Entries(), ::testing::ElementsAre("r.mdb"));
}

// Every byte of the file is parsed in the editing process, which a crafted file may break: when
// it dies (here on request, as a broken parser would), it dies alone. The post fails as for a
// damaged file, the table shows as read-only for that reason, the file is byte for byte as it
// was, no temporary file stays, and this program goes on: with the parser whole, the same post
// lands.
TEST(WriteRefusals, AnEditingProcessThatDiesEndsAloneAndChangesNothing)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    const TRecordChange change = Change(K::Update, 3, {{2, "8"}});
    {
        const quorlin::testing::TScopedEnvironment crash("QUORLIN_EDITOR_FAULT", "crash");
        EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", change); }), HasSubstr("is damaged"));
        EXPECT_THAT(WriteRefusal(db, "Plain"), HasSubstr("is damaged"));
        EXPECT_TRUE(DeleteEffects(db, "Plain", 0).empty());
        EXPECT_TRUE(ReadBytes(db) == original);
    }
    EXPECT_EQ(WriteRefusal(db, "Plain"), "");
    ApplyRecordChange(db, "Plain", change);
    EXPECT_FALSE(ReadBytes(db) == original);
    EXPECT_THAT(folder.Entries(), ::testing::ElementsAre("r.mdb"));
}

// The editing process is handed the database to read only: one a crafted file took over can write
// nothing into it, cut nothing off, map nothing of it to write.
TEST(WriteRefusals, AnEditingProcessTakenOverCannotWriteTheDatabase)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    const quorlin::testing::TScopedEnvironment attack("QUORLIN_EDITOR_FAULT", "write");
    EXPECT_EQ(WriteRefusal(db, "Plain"), "");
    EXPECT_TRUE(ReadBytes(db) == original);
    const TTableData after = ApplyRecordChange(db, "Plain", Change(K::Update, 3, {{2, "8"}}));
    const std::string changed = ReadBytes(db);
    EXPECT_EQ(changed.size(), original.size());
    EXPECT_NE(changed.substr(0, 10), "taken over");
    EXPECT_EQ(after.Columns[2].Numbers[3], 8.0);
}

// Keyed with its ID no longer an AutoNumber: a plain Long primary key that edits can break.
TEST(WriteRefusals, PrimaryKeysStayUniqueAndFilledWhileKeyChangesKeepTheIndexInOrder)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::string bytes = ReadBytes(db);
    const std::size_t idFlags = 80 * 4096 + 63 + 12 + 15;  // Keyed's definition page, first column
    ASSERT_EQ(bytes[idFlags] & 0x04, 0x04);
    bytes[idFlags] = static_cast<char>(bytes[idFlags] & ~0x04);
    WriteBytes(db, bytes);
    const std::string before = ReadBytes(db);

    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Keyed", Change(K::Update, 1, {{0, "1"}})); }),
                HasSubstr("duplicate value in the index 'PrimaryKey'"));
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Keyed", Change(K::Update, 1, {{0, std::nullopt}})); }),
                HasSubstr("primary key 'PrimaryKey'"));
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Keyed", Change(K::Insert, 0, {{1, "5"}})); }),
                HasSubstr("primary key"));
    EXPECT_EQ(ReadBytes(db), before);

    // Keys that move to the front, the back and below zero: the checker walks the index in order.
    std::vector<TRow> model = ReadFresh(db, "Keyed");
    const std::vector<std::pair<std::int32_t, double>> moves = {{0, 1000}, {14, -3}, {7, 0}, {3, 2147483647}};
    for (const auto& [record, id] : moves) {
        ApplyRecordChange(db, "Keyed", Change(K::Update, record, {{0, FormatGeneral(id)}}));
        model[static_cast<std::size_t>(record)][0] = id;
    }
    ApplyRecordChange(db, "Keyed", Change(K::Insert, 0, {{0, "-2147483648"}, {3, "1"}}));
    TRow added(4, std::nullopt);
    added[0] = -2147483648.0;
    added[3] = 1.0;
    model.push_back(added);
    ExpectTable(db, "Keyed", model);
}

// Access moves a record that outgrew its page elsewhere and leaves a pointer in its place. The
// reading library skips such records, so the program refuses to rebuild the table rather than
// lose them.
// Access moves a record that grew, leaving a pointer in its first row; a change lays the table
// out anew, the moved record back in one row.
TEST(WriteRoundTrip, ATableWithARecordMovedToAnotherSlotIsLaidOutWhole)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::string bytes = ReadBytes(db);
    const std::size_t page = 87 * 4096;  // Plain's data page: 15 records of 27 bytes
    auto u16 = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
                                            static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8; };
    auto put16 = [&](std::size_t at, unsigned v) {
        bytes[at] = static_cast<char>(v & 0xFF);
        bytes[at + 1] = static_cast<char>(v >> 8);
    };
    ASSERT_EQ(u16(page + 12), 15u);
    const unsigned first = u16(page + 14), last = u16(page + 14 + 2 * 14);
    ASSERT_EQ(first, 4096u - 27u);
    const unsigned moved = last - 27;
    bytes.replace(page + moved, 27, bytes.substr(page + first, 27));  // the record, in slot 15
    put16(page + 14 + 2 * 15, moved | 0x8000);                         // marked deleted there
    const std::string pointer = {15, 87, 0, 0};                       // row 15 of page 87
    bytes.replace(page + first, 4, pointer);
    put16(page + 14, first | 0x4000);
    put16(page + 12, 16);
    put16(page + 2, u16(page + 2) - 27 - 2);
    WriteBytes(db, bytes);
    const TChecked readMoved = CheckFormat(db, "Plain");
    ASSERT_EQ(readMoved.Rows.size(), 15u);  // the independent reader follows the pointer
    EXPECT_EQ(WriteRefusal(db, "Plain"), "");

    ApplyRecordChange(db, "Plain", Change(K::Update, 3, {{2, "8"}}));
    const TChecked after = CheckFormat(db, "Plain");
    EXPECT_THAT(after.Problems, IsEmpty());
    ASSERT_EQ(after.Rows.size(), 15u);
    for (std::size_t r = 0; r < 15; ++r) {
        if (r == 3) continue;
        EXPECT_EQ(after.Rows[r], readMoved.Rows[r]) << "record " << r + 1;
    }
    EXPECT_EQ(after.Rows[3][2], 8.0);
    const std::string laidOut = ReadBytes(db);
    EXPECT_EQ(static_cast<unsigned char>(laidOut[page + 12]), 15u);  // the pointer and the old copy gone
}

// In a file of more than 512 pages a new page lies beyond what an inline page map can mark:
// the table's map of pages with room becomes one of map pages.
TEST(WriteRoundTrip, PagesBeyondTheReachOfAnInlineMap)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::string bytes = ReadBytes(db);
    // Pages no one owns, as a larger file has; not empty, so that they are not taken again.
    for (int page = 0; page < 430; ++page) bytes.append(std::string(4095, '\0') + '\x01');
    WriteBytes(db, bytes);
    const std::size_t before = ReadFresh(db, "Stations").size();
    for (int i = 0; i < 12; ++i)
        ApplyRecordChange(db, "Stations", Change(K::Insert, 0, {{0, std::string(255, static_cast<char>('a' + i))}, {1, "1"}}));
    EXPECT_GT(ReadBytes(db).size(), bytes.size());
    const TChecked checked = CheckFormat(db, "Stations");
    EXPECT_THAT(checked.Problems, IsEmpty());
    EXPECT_EQ(checked.Rows.size(), before + 12);
    EXPECT_EQ(ReadFresh(db, "Stations").size(), before + 12);
    EXPECT_EQ(ExportedRecords(db, "Stations"), before + 12);
}

// Keyed's key turned into (x1 descending, ID): entries of two fields, one of them inverted.
TEST(WriteRoundTrip, TwoFieldKeyWithADescendingFieldStaysInOrder)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::string bytes = ReadBytes(db);
    const std::size_t tdef = 80 * 4096;
    std::size_t at = tdef + 63 + 12 + 25 * 4;
    for (int column = 0; column < 4; ++column)
        at += 2 + static_cast<unsigned char>(bytes[at]) + 256 * static_cast<unsigned char>(bytes[at + 1]);
    const std::string key = {1, 0, 2, 0, 0, 1};  // column 1 (x1) descending, column 0 (ID) ascending
    ASSERT_EQ(bytes.substr(at + 4, 3), std::string({0, 0, 1}));
    bytes.replace(at + 4, key.size(), key);
    WriteBytes(db, bytes);

    std::vector<TRow> model = ReadFresh(db, "Keyed");
    ApplyRecordChange(db, "Keyed", Change(K::Update, 3, {{1, "-5"}}));
    model[3][1] = -5.0;
    ApplyRecordChange(db, "Keyed", Change(K::Insert, 0, {{1, "1e6"}}));
    model.push_back({16.0, 1e6, std::nullopt, std::nullopt});
    ApplyRecordChange(db, "Keyed", Change(K::Delete, 0));
    model.erase(model.begin());
    ExpectTable(db, "Keyed", model);
    // The root leaf starts with the largest x1: flag 0x80, then its bytes inverted.
    const std::string root = ReadBytes(db).substr(82 * 4096 + 0x1E0, 9);
    double largest = 1e6;
    std::uint64_t bits;
    std::memcpy(&bits, &largest, 8);
    bits ^= 0x8000000000000000ull;
    EXPECT_EQ(static_cast<unsigned char>(root[0]), 0x80);
    EXPECT_EQ(static_cast<unsigned char>(root[1]), static_cast<unsigned char>(~(bits >> 56)));
}

TEST(WriteRefusals, FilesThatCannotBeWrittenAreKnownWhenTheTableOpens)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    EXPECT_EQ(WriteRefusal(db, "Plain"), "");
    EXPECT_EQ(WriteRefusal(db, "Keyed"), "");

    const std::string lock = (folder / "r.ldb").string();
    WriteBytes(lock, "");
    EXPECT_THAT(WriteRefusal(db, "Plain"), HasSubstr("open in another program"));
    std::filesystem::remove(lock);

    ::chmod(db.c_str(), 0444);
    EXPECT_THAT(WriteRefusal(db, "Plain"), HasSubstr("read-only"));
    ::chmod(db.c_str(), 0644);

    // Another writer holds the file: this one does not wait for it, nor write over it.
    const int other = ::open(db.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::string held = ReadBytes(db);
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", Change(K::Delete, 0)); }), HasSubstr("being changed"));
    EXPECT_EQ(ReadBytes(db), held);
    ::close(other);

    std::string bytes = ReadBytes(db);
    const std::string older = (folder / "old.mdb").string(), newer = (folder / "new.mdb").string();
    bytes[0x14] = 0x00;
    WriteBytes(older, bytes);
    EXPECT_THAT(WriteRefusal(older, "Plain"), HasSubstr("Access 97"));
    bytes[0x14] = 0x02;  // Access 2007 keeps the layout of Access 2000
    WriteBytes(newer, bytes);
    EXPECT_EQ(WriteRefusal(newer, "Plain"), "");
    bytes[0x14] = 0x09;
    WriteBytes(newer, bytes);
    EXPECT_THAT(WriteRefusal(newer, "Plain"), HasSubstr("does not know"));

    // A view is never written; the query knows it when it opens.
    EditedTable view(db, "WarmDays");
    EXPECT_FALSE(view.Query.CanModify());
    EXPECT_THAT(RefusalOf([&] { view.Query.Edit(); }), HasSubstr("view"));
}

// Access's own keys of Japanese, Greek and Cyrillic text stay as it wrote them when records are
// added beside them and one is deleted; the new records' keys take their places among them.
TEST(WriteRoundTrip, TextKeyedByAccessInEveryScriptTakesNewRecordsAmongItsOwnKeys)
{
    const std::string external = ExternalFixtures();
    if (!std::filesystem::exists(external + "/testUnicodeCompV2003.mdb")) GTEST_SKIP() << "external fixtures absent";
    TempFolder folder;
    const std::string unicode = (folder / "testUnicodeCompV2003.mdb").string();
    std::filesystem::copy_file(external + "/testUnicodeCompV2003.mdb", unicode);
    std::filesystem::permissions(unicode, std::filesystem::perms(0644));
    EXPECT_EQ(WriteRefusal(unicode, "Table"), "");
    for (const char* text : {"北京 南郊观象台", "Москва-Балчуг", "Αθήνα Ελληνικό", "o'hare-kloten"})
        ApplyRecordChange(unicode, "Table", Change(K::Insert, 0, {{1, text}}));
    ApplyRecordChange(unicode, "Table", Change(K::Delete, 0));

    const std::string bytes = ReadBytes(unicode);
    const jet::TPageImage image(unicode, jet::TBytes(bytes.begin(), bytes.end()), jet::Jet4Format());
    const jet::TTableDef def = jet::FindTable(image, "Table");
    std::map<jet::TRowId, jet::TView> rows;
    for (const jet::TRecordPlace& place : jet::RecordPlaces(image.Pages(), def)) rows[place.Header] = place.Row;
    EXPECT_EQ(rows.size(), 8u + 4u - 1u);
    for (const jet::TRealIndex& index : def.Indexes) {
        const std::vector<jet::TIndexEntryBytes> entries = jet::IndexEntries(image.Pages(), def, index);
        EXPECT_EQ(entries.size(), rows.size()) << index.Name;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            jet::TRowFields fields;
            jet::SplitRow(def, image.Format(), rows.at(entries[i].Row), fields);
            EXPECT_EQ(entries[i].Key, jet::IndexKeyOf(def, index, fields)) << index.Name << ", entry " << i;
            if (i > 0) {
                EXPECT_LE(entries[i - 1].Key, entries[i].Key) << index.Name << ", entry " << i;
            }
        }
    }
    int status = 0;
    const std::string said = Capture(Quoted(AccessOracle()) + " indexcheck " + Quoted(unicode), &status);
    if (said.find("ok\t") != std::string::npos) {  // where the independent reader runs
        EXPECT_EQ(status, 0) << said;
    }
}

// ---------------------------------------------------------------------------------------------

class WriteSafety : public ::testing::Test {
protected:
    void TearDown() override { SetWriteStepHook({}); }
};

TEST_F(WriteSafety, AWriteStoppedAtAnyStepLeavesTheOldFileOrTheNewOne)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string reference = WritableCopy(folder, "reference.mdb");
    const TRecordChange change = Change(K::Insert, 0, {{0, "3.5"}, {2, "7"}});
    const std::string oldBytes = ReadBytes(db);
    ApplyRecordChange(reference, "Plain", change);
    const std::string newBytes = ReadBytes(reference);
    ASSERT_NE(oldBytes, newBytes);

    for (const std::string step : {"built", "temporary", "written", "synced", "renamed", "verified"}) {
        WriteBytes(db, oldBytes);
        SetWriteStepHook([&](std::string_view at) {
            if (at == step) throw std::runtime_error("stopped");
        });
        try {
            ApplyRecordChange(db, "Plain", change);
            ADD_FAILURE() << "not stopped at " << step;
        } catch (const std::exception&) {
        }
        SetWriteStepHook({});
        const std::string now = ReadBytes(db);
        EXPECT_TRUE(now == oldBytes || now == newBytes) << "a mix after stopping at " << step;
        EXPECT_THAT(folder.Entries(), ::testing::UnorderedElementsAre("r.mdb", "reference.mdb")) << step;
    }
}

// Something changes the new file right after it took the name (another program, or the disk):
// it no longer reads back as meant, but it is no longer what this writer wrote either, so it is
// left as it is rather than overwritten with the old file, and the change is reported failed.
TEST_F(WriteSafety, AFileChangedAfterTheRenameIsLeftToWhoeverChangedIt)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    ::chmod(db.c_str(), 0640);
    const double written = 4242.4242;
    std::string pattern(sizeof written, '\0');
    std::memcpy(pattern.data(), &written, sizeof written);
    std::string spoiled;
    SetWriteStepHook([&](std::string_view at) {
        if (at != "renamed") return;
        std::string bytes = ReadBytes(db);
        const auto found = bytes.find(pattern);
        if (found == std::string::npos) return;
        bytes[found + 7] = static_cast<char>(bytes[found + 7] ^ 0x01);
        WriteBytes(db, bytes);
        spoiled = bytes;
    });
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", Change(K::Update, 0, {{0, "4242.4242"}})); }),
                HasSubstr("was changed by another program meanwhile"));
    ASSERT_FALSE(spoiled.empty());
    EXPECT_EQ(ReadBytes(db), spoiled);
    struct stat st {};
    ::stat(db.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// ---------------------------------------------------------------------------------------------
// The query's editing, as the grid and the batch command use it.

TEST(QueryEditing, PostCancelAndMovingOnFromANewRecord)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    EditedTable t(db, "Plain");
    ASSERT_TRUE(t.Query.CanModify());
    t.Query.MoveBy(2);
    t.Query.SetFieldText(0, t.Query.DisplayText(2, 0));  // the same text begins no edit
    EXPECT_EQ(t.Query.State(), TDataSetState::Browse);
    t.Query.SetFieldText(0, "7.25");
    EXPECT_EQ(t.Query.State(), TDataSetState::Edit);
    t.Query.Cancel();
    EXPECT_EQ(t.Query.Number(0), ReadFresh(db, "Plain")[2][0]);

    t.Query.SetFieldText(0, "7.25");
    t.Query.Next();  // moving on posts
    EXPECT_EQ(t.Query.RecNo(), 4);
    EXPECT_EQ(*ReadFresh(db, "Plain")[2][0], 7.25);

    t.Query.Append();
    EXPECT_EQ(t.Query.RowCount(), 16);
    t.Query.Prior();  // an untouched new record is left, and Prior lands on the last record
    EXPECT_EQ(t.Query.RecNo(), 15);
    t.Query.Append();
    t.Query.SetFieldText(2, "1.5");
    t.Query.Prior();
    EXPECT_EQ(t.Query.RecordCount(), 16);
    EXPECT_EQ(t.Query.RecNo(), 15);
    t.Query.Last();
    t.Query.Delete();
    EXPECT_EQ(ReadFresh(db, "Plain").size(), 15u);
}

TEST(QueryEditing, ARefusedOrOverrunPostKeepsTheEdit)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    EditedTable t(db, "Plain");
    t.Query.SetFieldText(1, "abc");
    EXPECT_THAT(RefusalOf([&] { t.Query.Post(); }), HasSubstr("'x2'"));
    EXPECT_EQ(t.Query.State(), TDataSetState::Edit);
    EXPECT_EQ(t.Query.DisplayText(0, 1), "abc");

    // Another program changes the table meanwhile: our change is not laid over it.
    ApplyRecordChange(db, "Plain", Change(K::Update, 3, {{0, "99"}}));
    const std::string changedElsewhere = ReadBytes(db);
    t.Query.SetFieldText(1, "2");
    EXPECT_THAT(RefusalOf([&] { t.Query.Post(); }), HasSubstr("changed by another program"));
    EXPECT_EQ(ReadBytes(db), changedElsewhere);
    t.Query.Cancel();
    t.Query.Refresh();
    t.Query.SetFieldText(1, "2");
    t.Query.Post();
    EXPECT_EQ(*ReadFresh(db, "Plain")[0][1], 2.0);
    EXPECT_EQ(*ReadFresh(db, "Plain")[3][0], 99.0);

    // A new record needs none of the others: it goes in over another program's change.
    ApplyRecordChange(db, "Plain", Change(K::Update, 5, {{0, "55"}}));
    t.Query.Append();
    t.Query.SetFieldText(2, "3.5");
    t.Query.Post();
    const std::vector<TRow> withNew = ReadFresh(db, "Plain");
    ASSERT_EQ(withNew.size(), 16u);
    EXPECT_EQ(*withNew[5][0], 55.0);
    EXPECT_EQ(*withNew[15][2], 3.5);

    // Editing an empty table begins its first record.
    EditedTable empty(db, "Empty");
    empty.Query.Edit();
    EXPECT_EQ(empty.Query.State(), TDataSetState::Insert);
    empty.Query.SetFieldText(0, "1");
    empty.Query.Post();
    EXPECT_EQ(ReadFresh(db, "Empty").size(), 1u);
    EXPECT_THAT(CheckFormat(db, "Empty").Problems, IsEmpty());
}

}  // namespace
