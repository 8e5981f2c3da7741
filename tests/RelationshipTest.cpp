// Changes to related tables (tests/data/related.mdb, made by tests/tools/RelatedTables.java): a
// record referring to no record is refused, a record referred to is kept while its relationship
// says so, and the cascades a relationship asks for are made in the same write as the change.
// Every table is read back through the reading process; where the independent reader is at
// hand, it checks every index of the file afterwards.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/StatisticsTestSupport.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/records/ProviderError.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using K = TRecordChange::TKind;

namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool OracleRuns(const std::string& arguments)
{
    return std::system((AccessOracle() + " " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

const std::vector<std::string> Tables{"Stations", "Observations", "Series", "Months", "Audits", "Elements",
                                      "Readings", "Regions", "Sites", "Staff"};

class Relationships : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::copy_file(DataFile("related.mdb"), Db);
        std::filesystem::permissions(Db, std::filesystem::perms(0644));
    }
    void TearDown() override
    {
        SetWriteStepHook({});
        if (!HasFailure() && OracleRuns("dump " + Quoted(Db))) {
            EXPECT_TRUE(OracleRuns("indexcheck " + Quoted(Db))) << "the independent reader finds an index broken";
        }
    }

    TTableData Apply(const std::string& table, K kind, std::int32_t record, std::vector<TFieldText> values = {})
    {
        TRecordChange change;
        change.Kind = kind;
        change.Record = record;
        change.Values = std::move(values);
        return ApplyRecordChange(Db, table, change);
    }

    // The refusal of the change; the file must be byte for byte as it was.
    std::string Refusal(const std::string& table, K kind, std::int32_t record, std::vector<TFieldText> values = {})
    {
        const std::string before = ReadBytes(Db);
        try {
            Apply(table, kind, record, std::move(values));
        } catch (const EProviderError& e) {
            EXPECT_EQ(ReadBytes(Db), before) << "a refused change wrote";
            return e.what();
        }
        ADD_FAILURE() << "the change to " << table << " was made";
        return {};
    }

    // A field of every record, as text ("" for an empty one).
    std::vector<std::string> Field(const std::string& table, const std::string& field)
    {
        const TTableData data = ReadRecordsIsolated(Db, table, false);
        for (const TColumnData& column : data.Columns)
            if (column.Info.Name == field) {
                std::vector<std::string> texts;
                for (std::int32_t r = 0; r < data.RecordCount; ++r) texts.push_back(FormatCell(column, static_cast<std::size_t>(r)));
                return texts;
            }
        ADD_FAILURE() << "no field " << field;
        return {};
    }

    std::map<std::string, std::string> AllRecords()
    {
        std::map<std::string, std::string> all;
        for (const std::string& table : Tables) {
            const TTableData data = ReadRecordsIsolated(Db, table, false);
            for (std::int32_t r = 0; r < data.RecordCount; ++r)
                for (const TColumnData& column : data.Columns) all[table] += FormatCell(column, static_cast<std::size_t>(r)) + "|";
        }
        return all;
    }

    TempFolder Folder;
    const std::string Db = (Folder / "related.mdb").string();
};

TEST_F(Relationships, ARecordMayReferOnlyToARecordThatIsThere)
{
    const std::string required = "You cannot add or change a record because a related record is required in table ";
    EXPECT_EQ(Refusal("Readings", K::Insert, 0, {{0, "4"}, {1, "9"}, {2, "1.5"}}), required + "'Elements'.");
    EXPECT_EQ(Refusal("Readings", K::Update, 0, {{1, "9"}}), required + "'Elements'.");
    // Both fields of a key of two fields must be found together.
    EXPECT_EQ(Refusal("Months", K::Update, 0, {{1, "2030"}}), required + "'Series'.");

    Apply("Readings", K::Insert, 0, {{0, "4"}, {1, "3"}, {2, "0.5"}});
    Apply("Readings", K::Update, 0, {{1, "2"}});
    EXPECT_THAT(Field("Readings", "Element"), ElementsAre("2", "1", "2", "3"));
    // No value refers to nothing; keys of text match regardless of letter case, as in Access.
    Apply("Observations", K::Insert, 0, {{0, "11"}, {2, "2022"}});
    EXPECT_EQ(Refusal("Observations", K::Insert, 0, {{0, "13"}, {1, "ZRX"}}), required + "'Stations'.");
    Apply("Observations", K::Insert, 0, {{0, "12"}, {1, "zrh"}, {2, "2022"}});
    EXPECT_THAT(Field("Observations", "Station").back(), "zrh");
    // The independent reader's index check takes keys differing only in case for missing ones.
    Apply("Observations", K::Delete, 11);
}

TEST_F(Relationships, ARecordReferredToStaysWhileItsRelationshipRefusesTheChange)
{
    const std::string related = "The record cannot be deleted or changed because table 'Readings' includes related records.";
    EXPECT_EQ(Refusal("Elements", K::Delete, 0), related);
    EXPECT_EQ(Refusal("Elements", K::Update, 0, {{0, "7"}}), related);

    Apply("Elements", K::Update, 0, {{1, "Precipitation"}});  // the key stays
    Apply("Elements", K::Delete, 2);                           // nothing refers to Wind
    Apply("Readings", K::Delete, 2);
    Apply("Elements", K::Update, 1, {{0, "7"}});  // Temperature is no longer referred to
    EXPECT_THAT(Field("Elements", "Code"), ElementsAre("1", "7"));
    EXPECT_THAT(Field("Elements", "Name"), ElementsAre("Precipitation", "Temperature"));
}

TEST_F(Relationships, CascadesReachEveryRelatedTableInTheSameWrite)
{
    int renames = 0;
    SetWriteStepHook([&](std::string_view step) { renames += step == "renamed"; });
    // A new code for Baoshan goes down Stations -> Series -> Months and Stations -> Observations.
    Apply("Stations", K::Update, 0, {{0, "58367"}});
    EXPECT_EQ(renames, 1);
    EXPECT_THAT(Field("Stations", "Code"), ElementsAre("58367", "54511", "ZRH"));
    const auto baoshan = [](const std::vector<std::string>& codes) { return std::count(codes.begin(), codes.end(), "58367"); };
    EXPECT_EQ(baoshan(Field("Observations", "Station")), 3);
    EXPECT_EQ(baoshan(Field("Series", "Station")), 3);
    EXPECT_EQ(baoshan(Field("Months", "Station")), 9);
    for (const std::string table : {"Observations", "Series", "Months"}) {
        const std::vector<std::string> codes = Field(table, "Station");
        EXPECT_EQ(std::count(codes.begin(), codes.end(), "58362"), 0) << table;
    }

    // Kloten's records go with it, in every table, and nothing else does.
    Apply("Stations", K::Delete, 2);
    EXPECT_EQ(renames, 2);
    for (const std::string table : {"Observations", "Series", "Months"}) {
        const std::vector<std::string> codes = Field(table, "Station");
        EXPECT_EQ(std::count(codes.begin(), codes.end(), "ZRH"), 0) << table;
    }
    EXPECT_EQ(Field("Observations", "Id").size(), 7u);
    EXPECT_EQ(Field("Series", "Year").size(), 6u);
    EXPECT_EQ(Field("Months", "Month").size(), 18u);
}

TEST_F(Relationships, ACascadeStoppedAnywhereLeavesEveryTableAsItWas)
{
    const auto before = AllRecords();
    // Beijing's 2020 observation is audited, and audits keep what they refer to: the cascade from
    // the station stops there, and none of its other records go.
    EXPECT_EQ(Refusal("Stations", K::Delete, 1),
              "The record cannot be deleted or changed because table 'Audits' includes related records.");
    EXPECT_EQ(AllRecords(), before);
    // A new code cascades to the observations, whose own key the audits refer to stays.
    Apply("Stations", K::Update, 1, {{0, "54512"}});
    EXPECT_EQ(Field("Audits", "Observation"), std::vector<std::string>{"5"});
}

TEST_F(Relationships, DeletingARecordEmptiesTheFieldsThatReferToItWhereTheRelationshipSaysSo)
{
    Apply("Regions", K::Delete, 0);
    EXPECT_THAT(Field("Sites", "Region"), ElementsAre("", "", "2"));
    EXPECT_THAT(Field("Sites", "Name"), ElementsAre("Hill", "Lake", "Coast"));
    EXPECT_THAT(Field("Regions", "Name"), ElementsAre("South"));
}

TEST_F(Relationships, ATableRelatedToItselfCascadesDownItsChain)
{
    Apply("Staff", K::Delete, 1);  // the head of forecasting, the forecaster and the trainee
    EXPECT_THAT(Field("Staff", "Name"), ElementsAre("Director", "Head of instruments"));
    const std::string required = "You cannot add or change a record because a related record is required in table 'Staff'.";
    EXPECT_EQ(Refusal("Staff", K::Insert, 0, {{0, "6"}, {1, "3"}, {2, "Intern"}}), required);
    Apply("Staff", K::Insert, 0, {{0, "6"}, {1, "5"}, {2, "Technician"}});
    EXPECT_THAT(Field("Staff", "Boss"), ElementsAre("", "1", "5"));
}

TEST_F(Relationships, ATableIsReadOnlyWhenATableRelatedToItCannotBeChanged)
{
    EXPECT_EQ(WriteRefusal(Db, "Elements"), "");
    EXPECT_EQ(WriteRefusal(Db, "Months"), "");
    EXPECT_THAT(WriteRefusal(Db, "Gauges"),
                AllOf(HasSubstr("'Calibrations'"), HasSubstr("'Factor'"), HasSubstr("'Gauges' is related to it"), HasSubstr("read-only")));
    EXPECT_THAT(Refusal("Gauges", K::Update, 0, {{1, "Weighing gauge"}}), HasSubstr("'Gauges' is related to it"));
}

}  // namespace

// In a file Access saved, the relationship's own index comes first on the tree the primary key
// keeps; a refusal still names the primary key.
TEST(AccessRelationships, AnEmptyKeyIsRefusedNamingThePrimaryKeyNotTheRelationshipsIndex)
{
    const std::string source = ExternalFixtures() + "/indexTestV2000.mdb";
    if (!std::filesystem::exists(source)) GTEST_SKIP() << "indexTestV2000.mdb is not among the shared fixtures";
    TempFolder folder;
    const std::string db = (folder / "index.mdb").string();
    std::filesystem::copy_file(source, db);
    std::filesystem::permissions(db, std::filesystem::perms(0644));
    TRecordChange change;
    change.Kind = K::Insert;
    change.Values = {{1, std::string("foo9")}};
    for (const char* table : {"Table2", "Table3"}) {
        try {
            ApplyRecordChange(db, table, change);
            ADD_FAILURE() << "a record without a key went into " << table;
        } catch (const EProviderError& e) {
            EXPECT_THAT(e.what(), AllOf(HasSubstr("primary key 'PrimaryKey'"), ::testing::Not(HasSubstr(".r")))) << table;
        }
    }
}
