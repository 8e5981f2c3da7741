#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <future>

#include "tests/NonRegularFiles.h"
#include "tests/TestFiles.h"
#include "support/ReportTarget.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;

namespace {

// The refusal's text, or empty when path may take a report.
std::string RefusalOf(const std::filesystem::path& path, const std::string& source = {})
{
    try {
        CheckReportTarget(path.string(), source);
    } catch (const EReportTargetRefused& e) {
        return e.what();
    }
    return {};
}

std::string Refusal(const std::filesystem::path& path, const std::string& reason)
{
    return "The report cannot be written to '" + path.string() + "': " + reason;
}

// Every Access file the tests have, from several versions of the program that wrote them.
std::vector<std::filesystem::path> AccessFiles()
{
    std::vector<std::filesystem::path> files{std::filesystem::path(QUORLIN_TEST_DATA) / "regression.mdb",
                                             std::filesystem::path(QUORLIN_TEST_DATA) / "notes.accdb"};
    std::error_code absent;
    for (const auto& entry : std::filesystem::directory_iterator(ExternalFixtures(), absent))
        if (HasAccessExtension(entry.path().string())) files.push_back(entry.path());
    return files;
}

std::string Head(const std::filesystem::path& path, std::size_t count) { return ReadBytes(path).substr(0, count); }

}  // namespace

TEST(ReportTarget, EveryAccessFileIsKnownByItsFirstPage)
{
    const auto files = AccessFiles();
    if (files.size() <= 2 && !std::filesystem::exists(ExternalFixtures()))
        std::cerr << "Only the project's own Access files: " << ExternalFixtures() << " is absent\n";
    else
        ASSERT_GT(files.size(), 10u) << "the shared Access fixtures are missing";
    TempFolder folder;
    for (const auto& file : files) {
        EXPECT_TRUE(HasAccessSignature(Head(file, 20))) << file;
        // Renamed, the file is still known by what it holds.
        const auto renamed = folder / (file.stem().string() + ".txt");
        std::filesystem::copy_file(file, renamed);
        EXPECT_EQ(RefusalOf(renamed), Refusal(renamed, "it is an Access database")) << file;
        EXPECT_EQ(ReadBytes(renamed), ReadBytes(file));
    }
}

TEST(ReportTarget, NearMissesOfTheSignatureAreNoDatabase)
{
    const std::string jet = Head(std::filesystem::path(QUORLIN_TEST_DATA) / "regression.mdb", 20);
    ASSERT_TRUE(HasAccessSignature(jet));
    std::string nonZeroStart = jet;
    nonZeroStart[0] = 'x';
    std::string otherEngine = jet;
    otherEngine.replace(4, 15, "Standard XYZ DB");
    const std::string atTheStart = "Standard Jet DB" + std::string(5, '\0');
    for (const std::string& bytes : {std::string(), jet.substr(0, 18), nonZeroStart, otherEngine, atTheStart,
                                     std::string(20, '\0')})
        EXPECT_FALSE(HasAccessSignature(bytes)) << bytes;

    TempFolder folder;
    const std::pair<const char*, std::string> files[] = {
        {"empty.txt", ""}, {"short.txt", jet.substr(0, 18)}, {"report.txt", "[\xBB\xD8]\r\n" + jet}};
    for (const auto& [name, bytes] : files) {
        WriteBytes(folder / name, bytes);
        EXPECT_EQ(RefusalOf(folder / name), "") << name;
    }
}

TEST(ReportTarget, AccessExtensionsInAnyLetterCaseEvenBeforeTheFileExists)
{
    TempFolder folder;
    for (const auto& name : {"a.mdb", "b.MDB", "c.accdb", "d.AccDb", "e.mde", "f.MDE", "g.accde", "h.ACCDE"}) {
        EXPECT_EQ(RefusalOf(folder / name), Refusal(folder / name, "it is an Access database")) << name;
        EXPECT_FALSE(std::filesystem::exists(folder / name));
    }
    for (const auto& name : {"a.txt", "mdb", "a.mdb.txt", "a.md", "a.accdbx", ".mdbx"})
        EXPECT_EQ(RefusalOf(folder / name), "") << name;
}

TEST(ReportTarget, TheSourceUnderAnySpellingOrLink)
{
    TempFolder folder;
    const auto source = folder / "data.csv";
    WriteBytes(source, "x,y\n1,2\n");
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::create_symlink(source, folder / "link.txt");
    std::filesystem::create_hard_link(source, folder / "hard.txt");
    const auto sameFolder = folder / "sub" / ".." / "data.csv";
    for (const auto& path : {source, sameFolder, folder / "link.txt", folder / "hard.txt"})
        EXPECT_EQ(RefusalOf(path, source.string()), Refusal(path, "it is the source being read")) << path;
    // The source given through a link is the file the link points to.
    EXPECT_EQ(RefusalOf(source, (folder / "link.txt").string()), Refusal(source, "it is the source being read"));
    EXPECT_EQ(ReadBytes(source), "x,y\n1,2\n");

    WriteBytes(folder / "other.csv", "x,y\n1,2\n");
    EXPECT_EQ(RefusalOf(folder / "other.csv", source.string()), "");
    EXPECT_EQ(RefusalOf(folder / "new.txt", source.string()), "");
    EXPECT_EQ(RefusalOf(source, (folder / "missing.csv").string()), "");
}

TEST(ReportTarget, ALinkIsJudgedByWhatItPointsTo)
{
    TempFolder folder;
    std::filesystem::copy_file(std::filesystem::path(QUORLIN_TEST_DATA) / "regression.mdb", folder / "db.bin");
    WriteBytes(folder / "notes.txt", "notes");
    std::filesystem::create_symlink(folder / "db.bin", folder / "report.txt");
    std::filesystem::create_symlink(folder / "future.mdb", folder / "dangling.txt");
    std::filesystem::create_symlink(folder / "notes.txt", folder / "notes.mdb");
    std::filesystem::create_symlink(folder / "report.txt", folder / "chain.txt");
    EXPECT_EQ(RefusalOf(folder / "report.txt"), Refusal(folder / "report.txt", "it is an Access database"));
    EXPECT_EQ(RefusalOf(folder / "chain.txt"), Refusal(folder / "chain.txt", "it is an Access database"));
    // A link to nothing is itself replaced by the report, so its own name counts.
    EXPECT_EQ(RefusalOf(folder / "dangling.txt"), "");
    std::filesystem::create_symlink(folder / "future.txt", folder / "dangling.mdb");
    EXPECT_EQ(RefusalOf(folder / "dangling.mdb"), Refusal(folder / "dangling.mdb", "it is an Access database"));
    EXPECT_EQ(RefusalOf(folder / "notes.mdb"), "");

    // A loop of links cannot be judged; the write that follows says why it fails.
    std::filesystem::create_symlink(folder / "loop-b.txt", folder / "loop-a.txt");
    std::filesystem::create_symlink(folder / "loop-a.txt", folder / "loop-b.txt");
    EXPECT_EQ(RefusalOf(folder / "loop-a.txt"), "");
}

TEST(ReportTarget, WhatIsNoRegularFileIsRefusedAndKept)
{
    TempFolder folder;
    ASSERT_TRUE(MakeFifo(folder / "fifo"));
    ASSERT_TRUE(MakeSocket(folder / "sock"));
    std::filesystem::create_directory(folder / "dir.txt");
    std::filesystem::create_symlink(folder / "fifo", folder / "fifo-link.txt");
    const std::pair<std::filesystem::path, const char*> cases[] = {
        {folder / "fifo", "a FIFO"},
        {folder / "fifo-link.txt", "a FIFO"},
        {folder / "sock", "a socket"},
        {folder / "dir.txt", "a folder"},
        {folder.Path(), "a folder"},
        {"/dev/null", "a device"},
        {"/dev/full", "a device"},
    };
    for (const auto& [path, kind] : cases)
        EXPECT_EQ(RefusalOf(path), Refusal(path, std::string("it is not a regular file (") + kind + ")")) << path;
    EXPECT_EQ(TypeOf(folder / "fifo"), S_IFIFO);
    EXPECT_EQ(TypeOf(folder / "sock"), S_IFSOCK);
    EXPECT_EQ(TypeOf("/dev/null"), S_IFCHR);
}

TEST(ReportTarget, AFifoIsJudgedWithoutWaitingForAWriter)
{
    TempFolder folder;
    const auto fifo = folder / "fifo.txt";
    ASSERT_TRUE(MakeFifo(fifo));
    auto judged = std::async(std::launch::async, [&] { return RefusalOf(fifo); });
    if (judged.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the blocked reader go, so that the test ends with its failure.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        ADD_FAILURE() << "the check waited on the FIFO";
    }
    EXPECT_THAT(judged.get(), HasSubstr("it is not a regular file (a FIFO)"));
}

TEST(ReportTarget, ADeviceNodeInAnyFolder)
{
    TempFolder folder;
    const auto node = folder / "report.txt";
    if (!MakeNullDevice(node)) GTEST_SKIP() << "making a device node needs root";
    EXPECT_EQ(RefusalOf(node), Refusal(node, "it is not a regular file (a device)"));
    EXPECT_EQ(TypeOf(node), S_IFCHR);
}
