// Files of the versions of Access after Access 2010. Access 2016 and later write a newer version
// byte in the database page but lay the file out as Access 2010 does, so such a file is made
// here from an Access 2010 file (the shared fixture, else the project's ACE file) by changing
// that byte alone: it stands before the scrambled part of the page, and nothing else in the
// file repeats it. It must read, and take a change, exactly as the file it came from. A version
// byte beyond the newest known is refused, naming the version.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/StatisticsTestSupport.h"
#include "batch/BatchCommand.h"
#include "data/provider/CustomerData.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/format/Format.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

// An Access 2010 file when the shared fixtures hold one, else the project's own ACE file.
std::string AceSource()
{
    const std::string external = ExternalFixtures() + "/testV2010.accdb";
    return std::filesystem::exists(external) ? external : DataFile("notes.accdb");
}

// A writable copy of source whose version byte says version.
std::string Relabelled(const TempFolder& folder, const std::string& source, std::uint8_t version)
{
    std::string bytes = ReadBytes(source);
    bytes.at(jet::database_page::Version) = static_cast<char>(version);
    const std::string path = (folder / ("v" + std::to_string(version) + ".accdb")).string();
    WriteBytes(path, bytes);
    return path;
}

std::vector<std::string> UserTables(const std::string& path)
{
    TCustomerData data;
    EXPECT_EQ(data.ConnectDatabase(path), 1) << data.LastError();
    std::vector<std::string> names;
    data.DataConn.GetTableNames(names, false);
    return names;
}

// Every cell alike, texts included, and the columns described alike.
void ExpectSameTable(const TTableData& a, const TTableData& b)
{
    ASSERT_EQ(a.Columns.size(), b.Columns.size());
    EXPECT_EQ(a.RecordCount, b.RecordCount);
    for (std::size_t c = 0; c < a.Columns.size(); ++c) {
        const TColumnData& x = a.Columns[c];
        const TColumnData& y = b.Columns[c];
        SCOPED_TRACE(x.Info.Name);
        EXPECT_EQ(x.Info.Name, y.Info.Name);
        EXPECT_EQ(x.Info.Type, y.Info.Type);
        EXPECT_EQ(x.Info.Size, y.Info.Size);
        EXPECT_EQ(x.Kinds, y.Kinds);
        EXPECT_EQ(x.Numbers, y.Numbers);
        EXPECT_EQ(x.Texts, y.Texts);
    }
    EXPECT_EQ(a.Warnings, b.Warnings);
}

struct TRun {
    int Status;
    std::string Out;
    std::string Err;
};

TRun Batch(const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"quorlin-batch"};
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

const std::uint8_t LaterVersions[] = {jet::TVersionByte::Ace15, jet::TVersionByte::Ace16, jet::TVersionByte::Ace17};

}  // namespace

TEST(FormatVersion, AccessAfter2010ReadsExactlyAsTheAccess2010FileItCameFrom)
{
    const std::string source = AceSource();
    const std::vector<std::string> tables = UserTables(source);
    ASSERT_FALSE(tables.empty());
    for (const std::uint8_t version : LaterVersions) {
        SCOPED_TRACE(int(version));
        TempFolder folder;
        const std::string path = Relabelled(folder, source, version);
        EXPECT_EQ(UserTables(path), tables);
        for (const std::string& table : tables) {
            SCOPED_TRACE(table);
            ExpectSameTable(ReadRecordsIsolated(path, table, false), ReadRecordsIsolated(source, table, false));
            const TRun relabelled = Batch({"export", path, "--table", table});
            const TRun original = Batch({"export", source, "--table", table});
            EXPECT_EQ(relabelled.Status, 0) << relabelled.Err;
            EXPECT_EQ(relabelled.Out, original.Out);
        }
    }
}

// The writer takes them too, and the file keeps the version it was saved in.
TEST(FormatVersion, AccessAfter2010TakesAChangeAndKeepsItsVersion)
{
    TempFolder folder;
    const std::string copy = (folder / "notes.accdb").string();
    WriteBytes(copy, ReadBytes(DataFile("notes.accdb")));
    for (const std::uint8_t version : LaterVersions) {
        SCOPED_TRACE(int(version));
        const std::string path = Relabelled(folder, copy, version);
        ASSERT_THAT(WriteRefusal(path, "Notes"), IsEmpty());
        const TTableData before = ReadRecordsIsolated(path, "Notes", false);
        const TRecordChange change{TRecordChange::TKind::Update, 1, {{2, "relabelled " + std::to_string(version)}}};
        const TTableData after = ApplyRecordChange(path, "Notes", change);
        EXPECT_EQ(after.RecordCount, before.RecordCount);
        EXPECT_EQ(after.Columns.at(2).Texts.at(1), "relabelled " + std::to_string(version));
        EXPECT_EQ(static_cast<std::uint8_t>(ReadBytes(path).at(jet::database_page::Version)), version);

        // The same change to the file as Access 2007 saved it gives the same file but for the byte.
        const TTableData plain = ApplyRecordChange(copy, "Notes", change);
        ExpectSameTable(after, plain);
    }
}

// A version byte beyond the newest known is no damage and no guess: it is refused by every path
// that opens a file, and the refusal names the version.
TEST(FormatVersion, AVersionNewerThanAnyKnownIsRefusedNamingIt)
{
    TempFolder folder;
    for (const int version : {jet::TVersionByte::Newest + 1, 0x10, 0xFF}) {
        SCOPED_TRACE(version);
        const std::string path = Relabelled(folder, DataFile("notes.accdb"), static_cast<std::uint8_t>(version));
        const std::string named = "is in version " + std::to_string(version) + " of the Access file format";

        TCustomerData data;
        EXPECT_EQ(data.ConnectDatabase(path), -1);
        EXPECT_THAT(data.LastError(), AllOf(HasSubstr(path), HasSubstr(named)));

        const TRun tables = Batch({"tables", path});
        EXPECT_EQ(tables.Status, 2);
        EXPECT_THAT(tables.Err, HasSubstr(named));
        const TRun exported = Batch({"export", path, "--table", "Notes"});
        EXPECT_EQ(exported.Status, 2);
        EXPECT_THAT(exported.Err, HasSubstr(named));

        EXPECT_THAT(WriteRefusal(path, "Notes"), HasSubstr(named));
    }
}
