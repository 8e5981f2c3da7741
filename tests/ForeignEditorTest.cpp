// Another program that edits the database in place without any lock: it opens the file,
// changes a value where it lies, and closes it. Such a program keeps the file it opened across
// our rename, so a post must never replace the file while it is open there, and must see what
// it wrote in the instant before the rename. Its edits, once it has closed the file, are never
// lost; our posts may be refused meanwhile, and say why.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "tests/Refusals.h"
#include "tests/StatisticsTestSupport.h"
#include "tests/TestFiles.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/records/ProviderError.h"
#include "support/NumberText.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;

namespace {

constexpr int EditedRecords = 10;  // the other program edits JAN of the first ten years
constexpr int Jan = 1, Feb = 2;    // columns of ElNino

TRecordChange SetCell(int record, int field, double value)
{
    TRecordChange c;
    c.Record = record;
    c.Values.push_back({field, ShortestText(value)});
    return c;
}

double Cell(const std::string& db, int record, int field)
{
    return ReadRecordsIsolated(db, "ElNino", false).Columns.at(static_cast<std::size_t>(field)).Numbers.at(
        static_cast<std::size_t>(record));
}

// The other program's one edit: the eight bytes of a value, wherever they lie in the file it
// has open, become another value; every copy of them, since a page may still hold a record's
// earlier row beside the live one. False when the value is not there.
bool EditInPlace(int fd, double from, double to, std::vector<char>& buffer)
{
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size <= 0 || static_cast<std::size_t>(size) > buffer.size()) return false;
    if (::pread(fd, buffer.data(), static_cast<std::size_t>(size), 0) != size) return false;
    bool found = false;
    for (off_t at = 0; at + 8 <= size; ++at)
        if (std::memcmp(buffer.data() + at, &from, 8) == 0) {
            if (::pwrite(fd, &to, 8, at) != 8) return false;
            found = true;
        }
    return found;
}

// A program of its own (a grandchild, so that nothing ties it to the test's process): runs
// body, then exits.
pid_t StartProgram(const std::function<void()>& body)
{
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            body();
            ::_exit(0);
        }
        ::write(ready[1], &grandchild, sizeof grandchild);
        ::_exit(0);
    }
    ::close(ready[1]);
    pid_t program = -1;
    ::read(ready[0], &program, sizeof program);
    ::close(ready[0]);
    ::waitpid(child, nullptr, 0);
    return program;
}

class ForeignEditor : public ::testing::Test {
protected:
    ForeignEditor()
    {
        std::filesystem::copy_file(DataFile("regression.mdb"), Db);
        std::filesystem::permissions(Db, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    }
    ~ForeignEditor() override { SetWriteStepHook({}); }

    TempFolder Folder;
    const std::string Db = (Folder / "station.mdb").string();
};

}  // namespace

// While it holds the file open for writing, a post is refused naming it and nothing changes; a
// program that only reads it stops nothing.
TEST_F(ForeignEditor, APostIsRefusedWhileAnotherProgramHoldsTheFileOpenForWriting)
{
    for (const int mode : {O_RDWR, O_WRONLY, O_RDONLY}) {
        SCOPED_TRACE(mode);
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        const std::string path = Db;
        const pid_t holder = StartProgram([&] {
            const int fd = ::open(path.c_str(), mode);
            ::write(started[1], "x", 1);
            ::pause();
            ::close(fd);
        });
        char x;
        ASSERT_EQ(::read(started[0], &x, 1), 1);
        ::close(started[0]);
        ::close(started[1]);
        const std::string before = ReadBytes(Db);
        const std::string refusal = RefusalOf([&] { ApplyRecordChange(Db, "ElNino", SetCell(40, Feb, 1.25)); });
        ::kill(holder, SIGKILL);
        // Gone only once its descriptors are: the next round must not meet this one's.
        const std::string fds = "/proc/" + std::to_string(holder) + "/fd";
        for (std::error_code ec; std::filesystem::directory_iterator(fds, ec) != std::filesystem::directory_iterator();)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (mode == O_RDONLY) {
            EXPECT_EQ(refusal, "no refusal");
            EXPECT_EQ(Cell(Db, 40, Feb), 1.25);
        } else {
            EXPECT_THAT(refusal, HasSubstr("is open in another program (data_tests"));
            EXPECT_THAT(refusal, HasSubstr("pid " + std::to_string(holder) + "); close it and try again"));
            EXPECT_EQ(ReadBytes(Db), before);
        }
    }
}

// The instant the check cannot cover, widened: the other program opens the file after the last
// look and writes into it just after the rename. The post waits for it to close the file, keeps
// its edit, and fails.
TEST_F(ForeignEditor, AnEditIntoTheFileJustReplacedIsKeptAndThePostFails)
{
    const double jan = Cell(Db, 0, Jan);
    int opened[2];
    ASSERT_EQ(::pipe(opened), 0);
    pid_t editor = -1;
    SetWriteStepHook([&](std::string_view step) {
        if (step != "checked" || editor >= 0) return;
        const std::string path = Db;
        editor = StartProgram([&] {
            std::vector<char> buffer(1 << 22);
            const int fd = ::open(path.c_str(), O_RDWR);
            ::write(opened[1], "x", 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EditInPlace(fd, jan, 99.5, buffer);
            ::close(fd);
        });
        char x;
        ASSERT_EQ(::read(opened[0], &x, 1), 1);
    });
    EXPECT_THAT(RefusalOf([&] { ApplyRecordChange(Db, "ElNino", SetCell(40, Feb, 2.5)); }),
                HasSubstr("was changed by another program meanwhile"));
    EXPECT_EQ(Cell(Db, 0, Jan), 99.5);
    EXPECT_NE(Cell(Db, 40, Feb), 2.5);
    ::close(opened[0]);
    ::close(opened[1]);
}

// Thirty seconds of posts while the other program edits at random moments (a few a second, as a
// person working in it would), holding the file open for a random while each time: every edit
// it closed the file on is in the file at the end, and so is every post that said it was made.
TEST_F(ForeignEditor, NoEditOfAProgramWithoutALockIsLostUnderAStreamOfPosts)
{
    // Values the other program can find by their bytes alone.
    std::map<int, double> foreign;
    for (int r = 0; r < EditedRecords; ++r) {
        foreign[r] = 1000.5 + r;
        ApplyRecordChange(Db, "ElNino", SetCell(r, Jan, foreign[r]));
    }
    int acknowledged[2];
    ASSERT_EQ(::pipe(acknowledged), 0);
    const std::string path = Db;
    const std::string stop = (Folder / "stop").string();
    StartProgram([&] {
        ::close(acknowledged[0]);
        std::vector<char> buffer(1 << 22);
        std::mt19937 random(20261209);
        std::map<int, double> current = foreign;
        for (int k = 0; ::access(stop.c_str(), F_OK) != 0; ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 800));
            const int record = k % EditedRecords;
            const double to = 2000.25 + k;
            const int fd = ::open(path.c_str(), O_RDWR);
            if (fd < 0) continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 15));
            const bool edited = EditInPlace(fd, current[record], to, buffer);
            if (::close(fd) == 0 && edited) {
                current[record] = to;
                const double told[2] = {static_cast<double>(record), to};
                ::write(acknowledged[1], told, sizeof told);
            }
        }
    });
    ::close(acknowledged[1]);

    std::map<int, double> posted;
    int made = 0, refused = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int k = 0; std::chrono::steady_clock::now() < end; ++k) {
        const int record = 30 + k % 30;
        const double value = 3000.125 + k;
        const std::string refusal = RefusalOf([&] { ApplyRecordChange(Db, "ElNino", SetCell(record, Feb, value)); });
        if (refusal == "no refusal") {
            posted[record] = value;
            ++made;
        } else {
            ++refused;
            EXPECT_THAT(refusal, ::testing::AnyOf(HasSubstr("open in another program"), HasSubstr("changed by another program")));
        }
    }
    // Told to stop, the other program finishes the edit it is making; its end closes the pipe.
    WriteBytes(stop, "");
    double told[2];
    int edits = 0;
    while (::read(acknowledged[0], told, sizeof told) == sizeof told) {
        foreign[static_cast<int>(told[0])] = told[1];
        ++edits;
    }
    ::close(acknowledged[0]);
    std::cout << made << " posts made, " << refused << " refused; " << edits << " edits by the other program\n";

    const TTableData table = ReadRecordsIsolated(Db, "ElNino", false);
    for (const auto& [record, value] : foreign) EXPECT_EQ(table.Columns[Jan].Numbers.at(static_cast<std::size_t>(record)), value) << record;
    // A post that failed after its rename, when the other program changed the new file before
    // it was read back, leaves the file as that program made it: with the post in it. So a later
    // value than the last post made may stand, never an earlier one.
    for (const auto& [record, value] : posted) EXPECT_GE(table.Columns[Feb].Numbers.at(static_cast<std::size_t>(record)), value) << record;
    EXPECT_GT(made, 10);
    EXPECT_GT(edits, 40);
}
