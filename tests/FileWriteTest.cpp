#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tests/TestFiles.h"
#include "support/FileWrite.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

mode_t ModeOf(const std::filesystem::path& p)
{
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
}

int ErrorOf(const std::string& path, const std::string& bytes)
{
    try {
        ReplaceFileContents(path, bytes);
    } catch (const EFileWriteError& e) {
        return e.Error();
    }
    return 0;
}

}  // namespace

TEST(ReplaceFile, CreatesAndReplacesLeavingNoTemporaryFile)
{
    TempFolder folder;
    const auto path = folder / "a.txt";
    ReplaceFileContents(path.string(), "first");
    EXPECT_EQ(ReadBytes(path), "first");
    ReplaceFileContents(path.string(), "");
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"a.txt"});
}

TEST(ReplaceFile, KeepsThePermissionsOfTheFileItReplaces)
{
    TempFolder folder;
    const auto path = folder / "a.txt";
    WriteBytes(path, "old");
    ::chmod(path.c_str(), 0640);
    ReplaceFileContents(path.string(), "new");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(ReadBytes(path), "new");
}

TEST(ReplaceFile, RefusesWhatCannotBeWritten)
{
    TempFolder folder;
    EXPECT_EQ(ErrorOf((folder / "missing" / "a.txt").string(), "x"), ENOENT);

    const auto readOnly = folder / "ro.txt";
    WriteBytes(readOnly, "keep");
    ::chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(ErrorOf(readOnly.string(), "x"), EACCES);
    EXPECT_EQ(ReadBytes(readOnly), "keep");

    std::filesystem::create_directory(folder / "dir");
    EXPECT_EQ(ErrorOf((folder / "dir").string(), "x"), EISDIR);
    EXPECT_EQ(folder.Entries().size(), 2u);
}

TEST(ReplaceFile, LockedFolderFollowsTheSystemsPermissionCheck)
{
    // A folder without write permission refuses a user; root may write into it all the same.
    TempFolder folder;
    std::filesystem::create_directory(folder / "locked");
    ::chmod((folder / "locked").c_str(), 0555);
    const bool mayWrite = ::access((folder / "locked").c_str(), W_OK) == 0;
    const auto path = folder / "locked" / "a.txt";
    EXPECT_EQ(ErrorOf(path.string(), "x"), mayWrite ? 0 : EACCES);
    EXPECT_EQ(std::filesystem::exists(path), mayWrite);
}

TEST(ReplaceFile, FollowsALinkAndKeepsIt)
{
    TempFolder folder;
    WriteBytes(folder / "target.txt", "old");
    std::filesystem::create_symlink(folder / "target.txt", folder / "link.txt");
    ReplaceFileContents((folder / "link.txt").string(), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.txt"));
    EXPECT_EQ(ReadBytes(folder / "target.txt"), "new");
}

TEST(ReplaceFile, ALinkToNothingIsReplacedItself)
{
    TempFolder folder;
    std::filesystem::create_symlink(folder / "missing.txt", folder / "link.txt");
    EXPECT_EQ(FileToReplace((folder / "link.txt").string()), folder / "link.txt");
    ReplaceFileContents((folder / "link.txt").string(), "new");
    EXPECT_FALSE(std::filesystem::is_symlink(folder / "link.txt"));
    EXPECT_EQ(ReadBytes(folder / "link.txt"), "new");
    EXPECT_FALSE(std::filesystem::exists(folder / "missing.txt"));
}

TEST(ReplaceFile, RelativePathInTheWorkingFolder)
{
    TempFolder folder;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    ReplaceFileContents("plain.txt", "here");
    std::filesystem::current_path(previous);
    EXPECT_EQ(ReadBytes(folder / "plain.txt"), "here");
}
