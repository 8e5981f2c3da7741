// --report aimed at files a report may not replace: the command refuses with status 1 and the
// reason, and the file is left exactly as it was, down to its type.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/BatchRun.h"
#include "tests/NonRegularFiles.h"
#include "tests/StatisticsTestSupport.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;

namespace {

std::string Refusal(const std::filesystem::path& target, const std::string& reason)
{
    return "The report cannot be written to '" + target.string() + "': " + reason;
}

std::string Sample() { return DataFile("Sample.csv"); }

// The full method, so that nothing but a failure reaches stderr. The database's Sample table
// holds the same records as Sample.csv.
RunResult ComputeInto(const std::string& source, const std::filesystem::path& report, bool json = false)
{
    std::vector<std::string> args{"compute", source, "--y", "y", "--method", "full", "--report", report.string()};
    if (std::filesystem::path(source).extension() == ".mdb") args.insert(args.begin() + 2, {"--table", "Sample"});
    if (json) args.push_back("--json");
    return RunCommand(args);
}

// Runs the command onto target and expects the refusal, with target's type and, for a regular
// file, its bytes untouched (reading a FIFO would wait for a writer).
void ExpectRefused(const std::string& source, const std::filesystem::path& target, const std::string& reason)
{
    SCOPED_TRACE(target.string());
    const bool regular = std::filesystem::is_regular_file(target);
    const mode_t type = TypeOf(target);
    const std::string before = regular ? ReadBytes(target) : "";
    const RunResult r = ComputeInto(source, target);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "quorlin-batch: " + Refusal(target, reason) + "\n");
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(TypeOf(target), type);
    if (regular) {
        EXPECT_EQ(ReadBytes(target), before);
    }
}

}  // namespace

TEST(BatchReportTarget, TheDatabaseBeingReadIsRefusedUnderAnyName)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder, "x.mdb");
    const std::string original = ReadBytes(db);
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_symlink(db, folder / "link.txt");
    std::filesystem::create_hard_link(db, folder / "hard.txt");
    for (const auto& target : {std::filesystem::path(db), folder / "sub" / ".." / "x.mdb", folder / "link.txt",
                               folder / "hard.txt"})
        ExpectRefused(db, target, "it is the source being read");

    const RunResult json = ComputeInto(db, db, true);
    EXPECT_EQ(json.Status, 1);
    EXPECT_EQ(nlohmann::json::parse(json.Out)["error"], Refusal(db, "it is the source being read"));
    EXPECT_EQ(ReadBytes(db), original);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.txt"));
}

TEST(BatchReportTarget, AnyOtherDatabaseIsRefusedByItsNameOrItsFirstPage)
{
    TempFolder folder;
    const std::string other = WritableCopy(folder, "other.mdb");
    const std::string upper = WritableCopy(folder, "OTHER.ACCDB");
    const std::string renamed = WritableCopy(folder, "report.txt");
    std::filesystem::create_symlink(other, folder / "link.txt");
    for (const auto& target : {std::filesystem::path(other), std::filesystem::path(upper),
                               std::filesystem::path(renamed), folder / "link.txt"})
        ExpectRefused(Sample(), target, "it is an Access database");

    // A database name is refused before there is a file, so none is made.
    const auto fresh = folder / "new.Mde";
    const RunResult r = ComputeInto(Sample(), fresh);
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, HasSubstr(Refusal(fresh, "it is an Access database")));
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

TEST(BatchReportTarget, TheCsvSourceIsRefused)
{
    TempFolder folder;
    const auto csv = folder / "data.csv";
    std::filesystem::copy_file(Sample(), csv);
    std::filesystem::create_symlink(csv, folder / "report.txt");
    for (const auto& target : {csv, folder / "." / "data.csv", folder / "report.txt"})
        ExpectRefused(csv.string(), target, "it is the source being read");
    EXPECT_EQ(ReadBytes(csv), ReadBytes(Sample()));
}

TEST(BatchReportTarget, FifoFolderAndSocketAreRefusedAndStayWhatTheyWere)
{
    TempFolder folder;
    ASSERT_TRUE(MakeFifo(folder / "fifo.txt"));
    ASSERT_TRUE(MakeSocket(folder / "sock.txt"));
    std::filesystem::create_directory(folder / "dir.txt");
    WriteBytes(folder / "dir.txt" / "inside", "kept");
    ExpectRefused(Sample(), folder / "fifo.txt", "it is not a regular file (a FIFO)");
    ExpectRefused(Sample(), folder / "sock.txt", "it is not a regular file (a socket)");
    ExpectRefused(Sample(), folder / "dir.txt", "it is not a regular file (a folder)");
    EXPECT_EQ(TypeOf(folder / "fifo.txt"), S_IFIFO);
    EXPECT_EQ(TypeOf(folder / "sock.txt"), S_IFSOCK);
    EXPECT_EQ(TypeOf(folder / "dir.txt"), S_IFDIR);
    EXPECT_EQ(ReadBytes(folder / "dir.txt" / "inside"), "kept");
    EXPECT_EQ(folder.Entries().size(), 3u);  // no temporary file left beside them
}

TEST(BatchReportTarget, DeviceNodeIsRefusedAndStaysADevice)
{
    TempFolder folder;
    const auto node = folder / "report.txt";
    if (!MakeNullDevice(node)) GTEST_SKIP() << "making a device node needs root";
    const RunResult r = ComputeInto(Sample(), node);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "quorlin-batch: " + Refusal(node, "it is not a regular file (a device)") + "\n");
    EXPECT_EQ(TypeOf(node), S_IFCHR);
    EXPECT_EQ(folder.Entries().size(), 1u);
}

TEST(BatchReportTarget, PlainReportsAreStillWrittenAndReplaced)
{
    TempFolder folder;
    const auto fresh = folder / "fresh.txt";
    RunResult r = ComputeInto(Sample(), fresh);
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string report = ReadBytes(fresh);
    EXPECT_THAT(report, HasSubstr("y=0.517+2.383*x1-0.083*x2\r\n"));

    const auto old = folder / "old.txt";
    WriteBytes(old, "an old report\r\n");
    EXPECT_EQ(ComputeInto(Sample(), old).Status, 0);
    EXPECT_EQ(ReadBytes(old), report);

    // Through a link the file it points to is replaced and the link stays.
    WriteBytes(folder / "target.txt", "an old report\r\n");
    std::filesystem::create_symlink(folder / "target.txt", folder / "link.mdb.txt");
    EXPECT_EQ(ComputeInto(Sample(), folder / "link.mdb.txt").Status, 0);
    EXPECT_EQ(ReadBytes(folder / "target.txt"), report);
    EXPECT_EQ(TypeOf(folder / "link.mdb.txt"), S_IFLNK);

    // A copy of the source with the same bytes is another file.
    std::filesystem::copy_file(Sample(), folder / "copy.csv");
    EXPECT_EQ(ComputeInto(Sample(), folder / "copy.csv").Status, 0);
    EXPECT_EQ(ReadBytes(folder / "copy.csv"), report);

    // The source read from a database, the report beside it.
    const std::string db = WritableCopy(folder, "x.mdb");
    r = ComputeInto(db, folder / "x.txt");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(ReadBytes(folder / "x.txt"), HasSubstr("\r\n"));
}
