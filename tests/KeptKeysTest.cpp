// A table whose text index is in a sort order only Access keys (here Chinese PRC, as Access on
// Chinese Windows writes it): its records are corrected and deleted with every entry's key kept
// byte for byte as Access wrote it; adding a record or changing a key field is refused, naming
// the sort order and the index. The file is a copy of tests/data/textkeyed.mdb whose text columns
// are marked Chinese PRC in the test; the keys stay those the General order gave them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "data/editing/MdbWriter.h"
#include "data/editing/RecordChange.h"
#include "data/format/read/IndexTree.h"
#include "data/format/read/RowCodec.h"
#include "data/format/read/TableScan.h"
#include "data/format/read/Text.h"
#include "data/format/write/PageImage.h"
#include "data/format/write/WritableTable.h"
#include "data/provider/Provider.h"
#include "tests/BatchRun.h"
#include "tests/Refusals.h"
#include "tests/TestFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::AllOf;
using ::testing::HasSubstr;

namespace {

constexpr std::uint16_t ChinesePrc = 2052;

jet::TPageImage Image(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    return jet::TPageImage(path, jet::TBytes(bytes.begin(), bytes.end()), jet::Jet4Format());
}

// The column descriptors follow the definition's header and its real indexes' counts (fact 5).
void MarkTextColumns(const std::string& path, const std::string& table, std::uint16_t locale)
{
    std::string bytes = ReadBytes(path);
    const jet::TPageImage image = Image(path);
    const jet::TTableDef def = jet::FindTable(image, table);
    const jet::TFormat& f = image.Format();
    std::size_t at = std::size_t{def.Page} * f.PageSize + f.TdefRealIndexCounts + f.RealIndexCountSize * def.Indexes.size();
    for (const jet::TColumnDef& col : def.Columns) {
        ASSERT_EQ(static_cast<TColumnType>(bytes[at + f.ColumnType]), col.Type);
        if (col.Type == TColumnType::Text) jet::Put16(reinterpret_cast<std::uint8_t*>(bytes.data()) + at + f.ColumnSortOrder, locale);
        at += f.ColumnSize;
    }
    WriteBytes(path, bytes);
}

std::size_t ColumnOf(const jet::TTableDef& def, const std::string& name)
{
    for (std::size_t c = 0; c < def.Columns.size(); ++c)
        if (def.Columns[c].Name == name) return c;
    ADD_FAILURE() << "no field " << name;
    return 0;
}

// A record told apart by its primary key, as text.
struct TTable {
    std::string Name;
    std::vector<std::string> Key;   // the primary key's fields
    std::string Corrected;          // a field in no index
    std::vector<std::string> Keyed; // fields in an index kept as written
};

std::string Identity(const jet::TTableDef& def, const jet::TRowFields& fields, const TTable& t)
{
    std::string id;
    for (const std::string& name : t.Key) {
        const std::size_t c = ColumnOf(def, name);
        if (def.Columns[c].Type == TColumnType::Text)
            id += jet::DecodeText(fields.Data[c], jet::Jet4Format(), 0);
        else
            id.append(fields.Data[c].begin(), fields.Data[c].end());
        id += '|';
    }
    return id;
}

struct TRecords {
    std::vector<std::string> Order;                  // identities, in the order the table reads
    std::map<jet::TRowId, std::string> At;            // the record each row pointer leads to
    std::map<std::string, jet::TBytes> Corrected;     // each record's corrected field, as stored
};

TRecords Records(const std::string& path, const TTable& t)
{
    const jet::TPageImage image = Image(path);
    const jet::TTableDef def = jet::FindTable(image, t.Name);
    TRecords r;
    jet::TRowFields fields;
    for (const jet::TRecordPlace& place : jet::RecordPlaces(image.Pages(), def)) {
        jet::SplitRow(def, image.Format(), place.Row, fields);
        const std::string id = Identity(def, fields, t);
        r.Order.push_back(id);
        r.At[place.Header] = id;
        const std::size_t c = ColumnOf(def, t.Corrected);
        r.Corrected[id] = jet::TBytes(fields.Data[c].begin(), fields.Data[c].end());
    }
    return r;
}

// Each index's key of each record, as the file holds it.
std::map<std::string, std::map<std::string, jet::TBytes>> Keys(const std::string& path, const TTable& t)
{
    const jet::TPageImage image = Image(path);
    const jet::TTableDef def = jet::FindTable(image, t.Name);
    const TRecords records = Records(path, t);
    std::map<std::string, std::map<std::string, jet::TBytes>> keys;
    for (const jet::TRealIndex& index : def.Indexes) {
        std::vector<jet::TBytes> entries;
        for (const jet::TIndexEntryBytes& e : jet::IndexEntries(image.Pages(), def, index)) {
            const auto record = records.At.find(e.Row);
            if (record == records.At.end()) {
                ADD_FAILURE() << t.Name << "." << index.Name << ": an entry points at no record";
                continue;
            }
            EXPECT_TRUE(keys[index.Name].emplace(record->second, e.Key).second) << t.Name << "." << index.Name << ": two entries";
            entries.push_back(e.Key);
            jet::AppendBigEndian32(entries.back(), e.Row.Packed());
        }
        EXPECT_EQ(keys[index.Name].size(), records.Order.size()) << t.Name << "." << index.Name << ": a record without entry";
        EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end())) << t.Name << "." << index.Name;
    }
    return keys;
}

}  // namespace

TEST(KeptKeys, ATableKeyedInChinesePrcTakesCorrectionsAndDeletesWithItsKeysAsWritten)
{
    TempFolder folder;
    const std::string db = (folder.Path() / "prc.mdb").string();
    std::filesystem::copy_file(std::string(QUORLIN_TEST_DATA) + "/textkeyed.mdb", db);
    const std::vector<TTable> tables{{"StationList", {"Code"}, "Latitude", {"Code", "Name"}},
                                     {"Observations", {"Station", "Year", "Month"}, "Rain", {"Station", "Year", "Observed"}}};
    for (const TTable& t : tables) MarkTextColumns(db, t.Name, ChinesePrc);
    std::map<std::string, std::map<std::string, std::map<std::string, jet::TBytes>>> written;
    for (const TTable& t : tables) {
        EXPECT_EQ(WriteRefusal(db, t.Name), "") << t.Name;
        written[t.Name] = Keys(db, t);
    }

    std::mt19937 rng(2052);
    std::map<std::string, std::map<std::string, jet::TBytes>> corrected;  // what each corrected field must hold
    int corrections = 0, deletes = 0, refused = 0;
    for (int op = 0; op < 200; ++op) {
        const TTable& t = tables[rng() % tables.size()];
        const jet::TTableDef def = jet::FindTable(Image(db), t.Name);
        const TRecords before = Records(db, t);
        if (before.Order.empty()) continue;
        const auto record = static_cast<std::int32_t>(rng() % before.Order.size());
        const std::string id = before.Order[static_cast<std::size_t>(record)];
        const int dice = static_cast<int>(rng() % 100);
        using K = TRecordChange::TKind;
        if (dice < 50) {  // a correction of a field in no index
            const double value = static_cast<double>(rng() % 10000) / 8.0;
            ApplyRecordChange(db, t.Name, {K::Update, record, {{static_cast<std::int32_t>(ColumnOf(def, t.Corrected)), std::to_string(value)}}});
            jet::TBytes stored(sizeof value);
            std::memcpy(stored.data(), &value, sizeof value);
            corrected[t.Name][id] = stored;
            ++corrections;
        } else if (dice < 65) {
            ApplyRecordChange(db, t.Name, {K::Delete, record, {}});
            corrected[t.Name].erase(id);
            ++deletes;
        } else {  // a new record, or a new value of a field an index keeps
            const std::string bytes = ReadBytes(db);
            const bool insert = dice < 80;
            const auto valueOf = [&](const std::string& field) {
                return field == "Observed" ? "2022-01-15" : field == "Year" ? "2030" : field == "Month" ? "1" : "北京" + std::to_string(op);
            };
            const std::string field = t.Keyed[rng() % t.Keyed.size()];
            TRecordChange change{insert ? K::Insert : K::Update, record, {}};
            for (const std::string& f : insert ? t.Key : std::vector<std::string>{field})
                change.Values.push_back({static_cast<std::int32_t>(ColumnOf(def, f)), valueOf(f)});
            EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, t.Name, change); }),
                        AllOf(HasSubstr("\"Chinese PRC\""), HasSubstr(insert ? "no record can be added" : "'" + field + "' cannot be changed")))
                << t.Name << (insert ? " insert" : " update of " + field);
            EXPECT_EQ(ReadBytes(db), bytes) << "a refused change wrote";
            ++refused;
        }
    }
    EXPECT_GT(corrections, 60);
    EXPECT_GT(deletes, 20);
    EXPECT_GT(refused, 40);

    // Every entry left is the one Access wrote for its record, and points at it.
    for (const TTable& t : tables) {
        const TRecords after = Records(db, t);
        for (const auto& [index, keys] : Keys(db, t))
            for (const auto& [id, key] : keys) EXPECT_EQ(key, written[t.Name][index].at(id)) << t.Name << "." << index << ", " << id;
        for (const auto& [id, value] : corrected[t.Name]) EXPECT_EQ(after.Corrected.at(id), value) << t.Name << ", " << id;
    }
}

// describe shows each index's fields, sort order and what this program does with its keys,
// before and after the text columns are marked Chinese PRC.
TEST(KeptKeys, DescribeNamesEachIndexsSortOrderAndWhatItAllows)
{
    TempFolder folder;
    const std::string db = (folder.Path() / "described.mdb").string();
    std::filesystem::copy_file(std::string(QUORLIN_TEST_DATA) + "/textkeyed.mdb", db);
    RunResult run = RunCommand({"describe", db, "--table", "StationList"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("PrimaryKey\tCode\tprimary key\t\"General (legacy)\"\tkeys written\n"));
    EXPECT_THAT(run.Out, HasSubstr("NameDown\tName (descending)\t-\t\"General (legacy)\"\tkeys written\n"));
    MarkTextColumns(db, "StationList", ChinesePrc);
    run = RunCommand({"describe", db, "--table", "StationList"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("PrimaryKey\tCode\tprimary key\t\"Chinese PRC\" (locale 2052)\tkeys kept as Access wrote them"));
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 3);
    run = RunCommand({"describe", db, "--table", "NoSuchTable"});
    EXPECT_EQ(run.Status, 2);
    EXPECT_THAT(run.Err, HasSubstr("NoSuchTable"));
}

// Related through a text index in such an order: a correction of other fields and a delete of a
// referring record are made; a delete that must find the records referring to it by their keys is
// refused, naming the sort order, as those keys cannot be built.
TEST(KeptKeys, RelatedTablesInChinesePrcAreCorrectedAndRefuseOnlyWhatNeedsANewKey)
{
    TempFolder folder;
    const std::string db = (folder.Path() / "related.mdb").string();
    std::filesystem::copy_file(std::string(QUORLIN_TEST_DATA) + "/related.mdb", db);
    for (const char* table : {"Stations", "Observations", "Series", "Months"}) MarkTextColumns(db, table, ChinesePrc);
    using K = TRecordChange::TKind;
    const jet::TTableDef observations = jet::FindTable(Image(db), "Observations");
    ApplyRecordChange(db, "Observations", {K::Update, 0, {{static_cast<std::int32_t>(ColumnOf(observations, "Rain")), "12.5"}}});
    ApplyRecordChange(db, "Observations", {K::Delete, 1, {}});
    const std::string bytes = ReadBytes(db);
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Stations", {K::Delete, 0, {}}); }), HasSubstr("\"Chinese PRC\""));
    EXPECT_EQ(ReadBytes(db), bytes);
}
