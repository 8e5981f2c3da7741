// Writers of one file, and other programs, at the worst moments: no acknowledged change is lost
// and no file is left half-written, whatever runs beside a post and whenever a writer dies.
// Windows that are too short to hit by chance are widened with the writer's step hook.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <span>
#include <thread>

#include "tests/ProgramSupport.h"
#include "tests/StatisticsTestSupport.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/records/ProviderError.h"
#include "data/editing/WriteTurn.h"
#include "tests/SharedFiles.h"

extern char** environ;

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;

namespace {

constexpr int PlainRecords = 15;

// quorlin-batch inserting one record into Plain, as another copy of the program would.
pid_t StartInsert(const std::string& db, int tag)
{
    return StartProgram({QUORLIN_BATCH_EXE, "insert", db, "--table", "Plain", "--set", "x1=" + std::to_string(tag),
                         "--set", "y=1"});
}

std::vector<double> X1(const std::string& db)
{
    const TTableData t = ReadRecordsIsolated(db, "Plain", false);
    return t.Columns.at(0).Numbers;
}

bool Holds(const std::vector<double>& values, double v) { return std::find(values.begin(), values.end(), v) != values.end(); }

TRecordChange Insert(double x1)
{
    TRecordChange c;
    c.Kind = TRecordChange::TKind::Insert;
    c.Values.push_back({0, std::to_string(x1)});
    return c;
}

std::string RefusalOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EProviderError& e) {
        return e.what();
    }
    return {};
}

class WriteTurns : public ::testing::Test {
protected:
    void TearDown() override { SetWriteStepHook({}); }
};

}  // namespace

// Writer B arrives while A is between its rename and its read-back: B waits for A, and both
// records are there afterwards.
TEST_F(WriteTurns, ASecondWriterWaitsThroughTheFirstOnesReadBack)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    pid_t b = -1;
    SetWriteStepHook([&](std::string_view at) {
        if (at != "renamed" || b >= 0) return;
        b = StartInsert(db, 202);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));  // B is at its turn now
    });
    EXPECT_NO_THROW(ApplyRecordChange(db, "Plain", Insert(101)));
    ASSERT_GE(b, 0);
    EXPECT_EQ(ExitStatus(b), 0);
    const auto x1 = X1(db);
    EXPECT_EQ(x1.size(), PlainRecords + 2u);
    EXPECT_TRUE(Holds(x1, 101) && Holds(x1, 202));
}

TEST_F(WriteTurns, FourWritersOfTwentyFiveInsertsEachAllLand)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::vector<std::thread> writers;
    std::atomic<int> failed{0};
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([&, w] {
            for (int k = 0; k < 25; ++k)
                if (ExitStatus(StartInsert(db, 1000 + 100 * w + k)) != 0) ++failed;
        });
    for (auto& t : writers) t.join();
    EXPECT_EQ(failed.load(), 0);
    const auto x1 = X1(db);
    EXPECT_EQ(x1.size(), PlainRecords + 100u);
    for (int w = 0; w < 4; ++w)
        for (int k = 0; k < 25; ++k) EXPECT_TRUE(Holds(x1, 1000 + 100 * w + k)) << w << "/" << k;
    const std::string oracleCommand = AccessOracle();
    const char* oracle = oracleCommand.c_str();
    const std::string quoted = "'" + db + "'";
    // The independent reader needs Java and its libraries; where it cannot even list the
    // original file, it cannot judge this one.
    const std::string probe = std::string(oracle) + " dump '" + DataFile("regression.mdb") + "' >/dev/null 2>&1";
    if (::access(oracle, X_OK) != 0 || std::system(probe.c_str()) != 0)
        GTEST_SKIP() << "the independent reader is not available to verify the file";
    EXPECT_EQ(std::system((std::string(oracle) + " verify " + quoted + " Plain >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(std::system((std::string(oracle) + " indexcheck " + quoted + " >/dev/null 2>&1").c_str()), 0);
}

// A program that writes into the file in place (without Access's lock file) while a post is at
// its rename: its edit stays, and the post reports failure.
TEST_F(WriteTurns, AnInPlaceEditDuringThePostWinsAndThePostFails)
{
    for (const char* window : {"synced", "renamed"}) {
        SCOPED_TRACE(window);
        TempFolder folder;
        const std::string db = WritableCopy(folder);
        const int foreign = ::open(db.c_str(), O_RDWR);
        ASSERT_GE(foreign, 0);
        std::string edited;
        SetWriteStepHook([&](std::string_view at) {
            if (at != window || !edited.empty()) return;
            // The other program's file is the one it opened, whichever file has the name now.
            edited = ReadBytes("/proc/self/fd/" + std::to_string(foreign));
            constexpr std::size_t Unused = 3000;  // a byte of the database page that nothing reads
            edited[Unused] = static_cast<char>(edited[Unused] ^ 0x5A);
            ASSERT_EQ(::pwrite(foreign, edited.data() + Unused, 1, static_cast<off_t>(Unused)), 1);
        });
        EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", Insert(303)); }),
                    HasSubstr("was changed by another program meanwhile; refresh and try again"));
        ::close(foreign);
        SetWriteStepHook({});
        EXPECT_EQ(ReadBytes(db), edited);
        EXPECT_EQ(X1(db).size(), static_cast<std::size_t>(PlainRecords));
    }
}

// Writers killed at random moments: the file is always the old or the new one, whole; the next
// writer clears what the dead ones left.
TEST_F(WriteTurns, WritersKilledAtRandomLeaveTheOldOrTheNewFile)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    std::mt19937 random(9122026);
    std::uniform_int_distribution<int> delay(0, 200);
    std::size_t records = PlainRecords;
    for (int k = 0; k < 200; ++k) {
        const pid_t pid = StartInsert(db, 5000 + k);
        ASSERT_GE(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        ::kill(pid, SIGKILL);
        ExitStatus(pid);
        const auto x1 = X1(db);
        ASSERT_TRUE(x1.size() == records || x1.size() == records + 1) << "after writer " << k;
        records = x1.size();
    }
    ApplyRecordChange(db, "Plain", Insert(9999));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"r.mdb"});
}

TEST_F(WriteTurns, LockFilesOfEveryLetterCaseAndHardLinksAreRefused)
{
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    WriteBytes(folder / "R.LDB", "");
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", Insert(1)); }), HasSubstr("is open in another program"));
    std::filesystem::remove(folder / "R.LDB");
    ASSERT_EQ(::link(db.c_str(), (folder / "other-name.mdb").c_str()), 0);
    const std::string before = ReadBytes(db);
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(db, "Plain", Insert(1)); }), HasSubstr("more than one name"));
    EXPECT_EQ(ReadBytes(db), before);
}

// Edited as root, a file of another user stays that user's, with its group and mode.
TEST_F(WriteTurns, OwnerGroupAndModeAreKept)
{
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    TempFolder folder;
    const std::string db = WritableCopy(folder);
    ASSERT_EQ(::chown(db.c_str(), 12345, 23456), 0);
    ASSERT_EQ(::chmod(db.c_str(), 0664), 0);
    ApplyRecordChange(db, "Plain", Insert(7));
    struct stat st {};
    ASSERT_EQ(::stat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(X1(db).size(), PlainRecords + 1u);
}

// Whether the file is still the one read is asked of files of many megabytes a piece at a
// time: a difference in any piece, at either end of one, or in the length is seen.
TEST(FileComparison, EveryDifferingByteAndEveryOtherLengthIsSeen)
{
    TempFolder folder;
    const auto file = folder / "f.bin";
    std::mt19937 random(7);
    std::string bytes(2'500'000, '\0');  // more than two pieces
    for (char& b : bytes) b = static_cast<char>(random());
    const std::span<const std::uint8_t> expected(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    auto holds = [&](const std::string& contents) {
        WriteBytes(file, contents);
        return FileAtPathHolds(file.string(), expected);
    };
    EXPECT_TRUE(holds(bytes));
    for (const std::size_t at : {std::size_t{0}, (std::size_t{1} << 20) - 1, std::size_t{1} << 20, bytes.size() - 1}) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        EXPECT_FALSE(holds(changed)) << at;
    }
    EXPECT_FALSE(holds(bytes.substr(0, bytes.size() - 1)));
    EXPECT_FALSE(holds(bytes + '\0'));
    EXPECT_FALSE(holds(""));
    EXPECT_FALSE(FileAtPathHolds((folder / "absent.bin").string(), expected));
    // An empty file holds nothing, and only that.
    WriteBytes(file, "");
    EXPECT_TRUE(FileAtPathHolds(file.string(), {}));
}
