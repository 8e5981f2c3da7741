// The fingerprint of the bytes a table was read from: carried by the stream from the reading
// process, given by it only for a file that held still, and used by a post to skip reading the
// table again. Whatever the fingerprint says, a post never lands over another program's change
// and never leaves a file that does not read back as meant.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <span>

#include "tests/Refusals.h"
#include "tests/StatisticsTestSupport.h"
#include "tests/WireStreams.h"
#include "data/records/Fingerprint.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/reading/Wire.h"
#include "data/reading/MdbAccess.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::AllOf;
using ::testing::HasSubstr;
using K = TRecordChange::TKind;

namespace {

// ---------------------------------------------------------------------------------------------
// The stream.

// One column x, two records (1.5, NULL).
void WriteRecords(TWireWriter& w)
{
    TColumnInfo x;
    x.Name = "x";
    x.Type = TColumnType::Double;
    WriteColumns(w, {x}, 2);
    w.U8(static_cast<std::uint8_t>(TWireMark::Record));
    WriteCell(w, TCellKind::Number, 1.5, {});
    w.U8(static_cast<std::uint8_t>(TWireMark::Record));
    WriteCell(w, TCellKind::Null, 0.0, {});
}

void WriteEnd(TWireWriter& w) { w.U8(static_cast<std::uint8_t>(TWireMark::End)); }

TEST(FingerprintStream, TravelsAfterTheRecordsAndOnlyRightBeforeTheEnd)
{
    const std::uint64_t fingerprint = 0x8000'0000'0000'0001ull;  // both ends of the word set
    const TTableData with = ReadStreamed(Streamed([&](TWireWriter& w) {
        WriteRecords(w);
        WriteFingerprint(w, fingerprint);
        WriteEnd(w);
    }));
    ASSERT_TRUE(with.Fingerprint.has_value());
    EXPECT_EQ(*with.Fingerprint, fingerprint);
    ASSERT_EQ(with.RecordCount, 2);
    EXPECT_EQ(with.Columns[0].Numbers[0], 1.5);
    EXPECT_EQ(with.Columns[0].Kinds[1], TCellKind::Null);

    const TTableData without = ReadStreamed(Streamed([&](TWireWriter& w) {
        WriteRecords(w);
        WriteEnd(w);
    }));
    EXPECT_FALSE(without.Fingerprint.has_value());
    EXPECT_EQ(without.RecordCount, 2);

    // A record after the fingerprint, or a stream cut inside it, is no stream a reader sends.
    const std::string recordAfter = Streamed([&](TWireWriter& w) {
        WriteRecords(w);
        WriteFingerprint(w, fingerprint);
        w.U8(static_cast<std::uint8_t>(TWireMark::Record));
        WriteCell(w, TCellKind::Number, 2.5, {});
        WriteEnd(w);
    });
    EXPECT_THROW(ReadStreamed(recordAfter), EWireError);
    const std::string whole = Streamed([&](TWireWriter& w) {
        WriteRecords(w);
        WriteFingerprint(w, fingerprint);
        WriteEnd(w);
    });
    for (const std::size_t cut : {std::size_t{1}, std::size_t{5}, std::size_t{9}})
        EXPECT_THROW(ReadStreamed(whole.substr(0, whole.size() - cut)), EWireError) << cut;
}

// ---------------------------------------------------------------------------------------------
// The reading process.

std::span<const std::uint8_t> AsBytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(FingerprintOfAReading, NamesTheFileBytesAndTheTable)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::uint64_t fileHash = FileHash(AsBytes(ReadBytes(db)));

    const TTableData plain = ReadRecordsIsolated(db, "Plain", false);
    ASSERT_TRUE(plain.Fingerprint.has_value());
    EXPECT_EQ(*plain.Fingerprint, TableFingerprint(fileHash, "Plain"));
    const TTableData keyed = ReadRecordsIsolated(db, "Keyed", false);
    ASSERT_TRUE(keyed.Fingerprint.has_value());
    EXPECT_NE(*keyed.Fingerprint, *plain.Fingerprint);
    // A view's records come from other tables through a query: nothing to vouch for.
    EXPECT_FALSE(ReadRecordsIsolated(db, "WarmDays", true).Fingerprint.has_value());

    // One byte that no reader looks at changes the fingerprint, not the records.
    std::string bytes = ReadBytes(db);
    constexpr std::size_t Unused = 3000;  // in the database page, after everything it keeps
    bytes[Unused] = static_cast<char>(bytes[Unused] ^ 0x5A);
    WriteBytes(db, bytes);
    const TTableData again = ReadRecordsIsolated(db, "Plain", false);
    EXPECT_EQ(again.Columns[0].Numbers, plain.Columns[0].Numbers);
    ASSERT_TRUE(again.Fingerprint.has_value());
    EXPECT_NE(*again.Fingerprint, *plain.Fingerprint);
    EXPECT_EQ(*again.Fingerprint, TableFingerprint(FileHash(AsBytes(bytes)), "Plain"));
}

// Another program writes into the file in place while the reading process decodes it: the
// bytes decoded are no longer the bytes hashed, and the reading vouches for nothing.
TEST(FingerprintOfAReading, NoneWhenTheFileIsWrittenIntoWhileItIsRead)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    TMdbFile file(db, -1, true);
    std::int32_t records = 0;
    file.ReadTable(
        "Plain", [](const std::vector<TColumnInfo>&, std::int32_t) {}, [&](const std::vector<TCellValue>&) { ++records; }, {});
    ASSERT_EQ(records, 15);
    const auto still = file.Fingerprint("Plain");
    ASSERT_TRUE(still.has_value());
    EXPECT_EQ(*still, TableFingerprint(FileHash(AsBytes(ReadBytes(db))), "Plain"));

    const int other = ::open(db.c_str(), O_WRONLY);
    ASSERT_GE(other, 0);
    constexpr std::size_t Unused = 3000;
    const char flipped = static_cast<char>(ReadBytes(db)[Unused] ^ 0x5A);
    ASSERT_EQ(::pwrite(other, &flipped, 1, static_cast<off_t>(Unused)), 1);
    ::close(other);
    EXPECT_FALSE(file.Fingerprint("Plain").has_value());
}

// ---------------------------------------------------------------------------------------------
// Posts.

TRecordChange SetX2(std::int32_t record, const std::string& value) { return TRecordChange{K::Update, record, {{1, value}}}; }

// The independent reader changes a number in place, as another program editing the file would.
bool OracleSets(const std::string& db, const std::string& table, int row, const std::string& column, double value)
{
    const std::string command = AccessOracle() + " set '" + db + "' '" + table + "' " +
                                std::to_string(row) + " '" + column + "' " + std::to_string(value) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

bool OracleAvailable()
{
    const std::string probe = AccessOracle() + " dump '" + DataFile("regression.mdb") + "' >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

// Each post is given the table the one before returned, as the grid gives it: what it returns
// is the file as a fresh reading finds it, fingerprint included.
TEST(PostOnTheRecordsShown, AChainOfPostsReadsAsAFreshReadingDoes)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    TTableData shown = ReadRecordsIsolated(db, "Plain", false);
    for (std::int32_t record : {0, 7, 14, 3}) {
        shown = ApplyRecordChange(db, "Plain", SetX2(record, std::to_string(record) + ".25"), &shown);
        const TTableData fresh = ReadRecordsIsolated(db, "Plain", false);
        EXPECT_EQ(shown.Columns[1].Numbers, fresh.Columns[1].Numbers) << record;
        EXPECT_EQ(shown.Columns[1].Numbers[static_cast<std::size_t>(record)], record + 0.25);
        ASSERT_TRUE(shown.Fingerprint.has_value());
        EXPECT_EQ(shown.Fingerprint, fresh.Fingerprint) << record;
    }
}

// Another program changes the table in place between the reading and the post: the records
// shown no longer match the file's fingerprint, the table is read afresh, and the post is
// refused, the other program's file left as it made it.
TEST(PostOnTheRecordsShown, AnInPlaceEditAfterTheReadingIsRefusedWithOrWithoutFingerprint)
{
    if (!OracleAvailable()) GTEST_SKIP() << "the independent reader is not available to edit the file";
    for (const bool fingerprinted : {true, false}) {
        SCOPED_TRACE(fingerprinted ? "with a fingerprint" : "without one");
        TempFolder folder;
        const std::string db = WritableCopy(folder);
        TTableData shown = ReadRecordsIsolated(db, "Plain", false);
        if (!fingerprinted) shown.Fingerprint.reset();
        ASSERT_TRUE(OracleSets(db, "Plain", 5, "x1", 4321.5));
        const std::string edited = ReadBytes(db);
        EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", SetX2(2, "8"), &shown); }),
                    HasSubstr("was changed by another program since it was read"));
        EXPECT_EQ(ReadBytes(db), edited);
    }
}

// The file changed where the table does not: the fingerprint no longer matches, the table read
// afresh is still the one shown, and the post goes in over the other program's change.
TEST(PostOnTheRecordsShown, AChangeOutsideTheTableFallsBackToAFreshReadingAndPosts)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const TTableData shown = ReadRecordsIsolated(db, "Plain", false);
    std::string bytes = ReadBytes(db);
    constexpr std::size_t Unused = 3000;
    bytes[Unused] = static_cast<char>(bytes[Unused] ^ 0x5A);
    WriteBytes(db, bytes);
    const TTableData after = ApplyRecordChange(db, "Plain", SetX2(4, "-1.5"), &shown);
    EXPECT_EQ(after.Columns[1].Numbers[4], -1.5);
    EXPECT_EQ(ReadBytes(db)[Unused], bytes[Unused]);
}

// Records of another table of the very same file, or records without a fingerprint, never pass
// for the table's own.
TEST(PostOnTheRecordsShown, AnotherTablesRecordsOrNoFingerprintNeverMatch)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    const TTableData keyed = ReadRecordsIsolated(db, "Keyed", false);
    ASSERT_TRUE(keyed.Fingerprint.has_value());
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", SetX2(0, "2"), &keyed); }),
                HasSubstr("was changed by another program since it was read"));
    EXPECT_EQ(ReadBytes(db), original);

    TTableData blank = ReadRecordsIsolated(db, "Plain", false);
    blank.Fingerprint.reset();
    blank.Columns[1].Numbers[9] += 1.0;  // so that only a fresh reading can tell
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", SetX2(0, "2"), &blank); }),
                HasSubstr("was changed by another program since it was read"));
    EXPECT_EQ(ReadBytes(db), original);
}

// Records changed after the reading but still carrying its fingerprint are taken as the
// table's: then the reading back finds the file unlike what was meant, and the old file is put
// back. A wrong fingerprint can cost a post, never the file.
TEST(PostOnTheRecordsShown, RecordsChangedUnderTheirFingerprintCostThePostNotTheFile)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    TTableData doctored = ReadRecordsIsolated(db, "Plain", false);
    doctored.Columns[0].Numbers[3] += 1.0;
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", SetX2(0, "2"), &doctored); }),
                AllOf(HasSubstr("did not read back as it was written"), HasSubstr("record 4"),
                      HasSubstr("put back as it was before")));
    EXPECT_EQ(ReadBytes(db), original);
}

// A new record depends on none of the others: the records shown spare the reading while the
// file is theirs, and after another program's edit the record still goes in, over that edit.
TEST(PostOnTheRecordsShown, ANewRecordIsSparedTheReadingYetLandsOverAnotherProgramsEdit)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    const std::string original = ReadBytes(db);
    const TRecordChange insert{K::Insert, 0, {{0, "77.5"}}};
    TTableData doctored = ReadRecordsIsolated(db, "Plain", false);
    doctored.Columns[0].Numbers[3] += 1.0;  // taken as the table's, it shows in the reading back
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", insert, &doctored, TEarlierRecords::MaySpare); }),
                HasSubstr("did not read back as it was written"));
    EXPECT_EQ(ReadBytes(db), original);

    if (!OracleAvailable()) GTEST_SKIP() << "the independent reader is not available to edit the file";
    const TTableData shown = ReadRecordsIsolated(db, "Plain", false);
    ASSERT_TRUE(OracleSets(db, "Plain", 5, "x1", 4321.5));
    const TTableData after = ApplyRecordChange(db, "Plain", insert, &shown, TEarlierRecords::MaySpare);
    ASSERT_EQ(after.RecordCount, shown.RecordCount + 1);
    EXPECT_EQ(after.Columns[0].Numbers[5], 4321.5);
    EXPECT_EQ(after.Columns[0].Numbers.back(), 77.5);
}

}  // namespace
