// A report's name changed by another program while the report is written: the file judged is
// the only file that may be replaced. The changes are made at each stage of the write (the
// window widened by the write's own hook), then at random by a program of their own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>

#include "tests/TestFiles.h"
#include "support/FileWrite.h"
#include "support/ReportTarget.h"

using namespace quorlin;
using namespace quorlin::testing;
namespace fs = std::filesystem;

namespace {

// A page that is the first of an Access database to anyone who judges a file by its contents.
std::string DatabaseBytes() { return std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(4076, 'd'); }

class SwappedTarget : public ::testing::Test {
protected:
    SwappedTarget()
    {
        WriteBytes(Database, DatabaseBytes());
        WriteBytes(Harmless, "old report");
    }
    // Points the report's name at a file, in one step, as a program swapping a link does.
    void PointReportAt(const fs::path& file) const
    {
        const fs::path fresh = Folder / "fresh-link";
        fs::remove(fresh);
        fs::create_symlink(file, fresh);
        fs::rename(fresh, Report);
    }
    // Writes the report, calling change once the write reaches stage; what the write raised.
    std::string WriteReport(const std::string& stage = "", const std::function<void()>& change = {}) const
    {
        TReplaceOptions options;
        options.Judge = ReportTargetJudge(Report.string(), "");
        options.Step = [&](std::string_view reached) {
            if (reached == stage && change) change();
        };
        try {
            ReplaceFileContents(Report.string(), "new report", options);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    std::vector<std::string> Leftovers() const
    {
        std::vector<std::string> temporary;
        for (const std::string& name : Folder.Entries())
            if (name.find(".tmp-") != std::string::npos) temporary.push_back(name);
        return temporary;
    }

    TempFolder Folder;
    const fs::path Database = Folder / "station.bin";  // no extension of an Access file: only its bytes tell
    const fs::path Harmless = Folder / "harmless.txt";
    const fs::path Report = Folder / "report.txt";
};

}  // namespace

// Whatever another program puts at the name, at whatever stage, stays as it put it, and the
// write says the file was replaced meanwhile.
TEST_F(SwappedTarget, ANameChangedDuringTheWriteKeepsWhatWasPutThere)
{
    for (const char* stage : {"temporary", "written", "synced"}) {
        SCOPED_TRACE(stage);
        // A link to a harmless file, turned to the database: the harmless file it was judged by
        // takes the report, the database is not touched, and the link stays as it was turned.
        PointReportAt(Harmless);
        EXPECT_EQ(WriteReport(stage, [&] { PointReportAt(Database); }), "");
        EXPECT_EQ(ReadBytes(Database), DatabaseBytes());
        EXPECT_EQ(fs::read_symlink(Report), Database);
        EXPECT_EQ(ReadBytes(Harmless), "new report");
        WriteBytes(Harmless, "old report");

        // The file the link pointed to swapped for a link to the database.
        PointReportAt(Harmless);
        EXPECT_THAT(WriteReport(stage, [&] {
                        fs::remove(Harmless);
                        fs::create_symlink(Database, Harmless);
                    }),
                    ::testing::HasSubstr("another program replaced"));
        EXPECT_EQ(ReadBytes(Database), DatabaseBytes());
        fs::remove(Harmless);
        WriteBytes(Harmless, "old report");

        // Nothing there when judged; a link to the database there before the rename.
        fs::remove(Report);
        EXPECT_THAT(WriteReport(stage, [&] { PointReportAt(Database); }), ::testing::HasSubstr("another program replaced"));
        EXPECT_EQ(ReadBytes(Database), DatabaseBytes());
        EXPECT_TRUE(fs::is_symlink(Report));

        // A regular file judged, another regular file there before the rename.
        fs::remove(Report);
        WriteBytes(Report, "judged");
        EXPECT_THAT(WriteReport(stage, [&] {
                        WriteBytes(Folder / "other", "theirs");
                        fs::rename(Folder / "other", Report);
                    }),
                    ::testing::HasSubstr("another program replaced"));
        EXPECT_EQ(ReadBytes(Report), "theirs");
        EXPECT_THAT(Leftovers(), ::testing::IsEmpty());
        fs::remove(Report);
    }
    // Left alone, the same writes go where they were judged to go.
    PointReportAt(Harmless);
    EXPECT_EQ(WriteReport(), "");
    EXPECT_EQ(ReadBytes(Harmless), "new report");
    EXPECT_TRUE(fs::is_symlink(Report));
    EXPECT_THAT(Leftovers(), ::testing::IsEmpty());
}

// A link that points at the database when it is judged is refused for what it points to.
TEST_F(SwappedTarget, ALinkToTheDatabaseIsRefusedByItsContents)
{
    PointReportAt(Database);
    EXPECT_THAT(WriteReport(), ::testing::HasSubstr("it is an Access database"));
    EXPECT_EQ(ReadBytes(Database), DatabaseBytes());
    EXPECT_THAT(Leftovers(), ::testing::IsEmpty());
}

// Twenty seconds of another program turning the name between a harmless file and the database
// as fast as it can, while reports are written as fast as they can be: the database never changes.
TEST_F(SwappedTarget, ALinkSwappedWithoutPauseNeverLetsTheDatabaseBeReplaced)
{
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const fs::path toHarmless = Folder / "to-harmless";
        const fs::path toDatabase = Folder / "to-database";
        for (bool harmless = true; !stop; harmless = !harmless) {
            const fs::path& link = harmless ? toHarmless : toDatabase;
            std::error_code ec;
            fs::create_symlink(harmless ? Harmless : Database, link, ec);
            fs::rename(link, Report, ec);
        }
    });
    std::size_t written = 0, refused = 0, changed = 0, runs = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        const std::string outcome = WriteReport();
        ++runs;
        if (outcome.empty()) ++written;
        else if (outcome.find("Access database") != std::string::npos) ++refused;
        else if (outcome.find("another program replaced") != std::string::npos) ++changed;
        ASSERT_EQ(ReadBytes(Database), DatabaseBytes()) << "after run " << runs << ": " << outcome;
    }
    stop = true;
    swapper.join();
    std::cout << runs << " reports: " << written << " written, " << refused << " refused, " << changed
              << " stopped by a change\n";
    EXPECT_GT(written, 0u);
    EXPECT_GT(refused, 0u);
    EXPECT_EQ(ReadBytes(Database), DatabaseBytes());
}
