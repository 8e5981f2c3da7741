// The copy of a database a change rewrites: only what it writes differs from the file, the file
// itself is never written, and pages appended past the room reserved keep what came before.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "data/format/Format.h"
#include "data/format/write/PageImage.h"
#include "data/format/write/WorkingCopy.h"
#include "support/FileDescriptor.h"
#include "tests/TestFiles.h"

namespace quorlin {
namespace {

class WorkingCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        FPath = std::filesystem::temp_directory_path() / ("quorlin-working-" + std::to_string(::getpid()) + ".bin");
        for (int page = 0; page < 4; ++page) FBytes += std::string(PageSize, static_cast<char>('a' + page));
        testing::WriteBytes(FPath, FBytes);
        FFile.Reset(::open(FPath.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_GE(FFile.Get(), 0);
    }
    void TearDown() override { std::filesystem::remove(FPath); }

    static constexpr std::size_t PageSize = 4096;
    std::filesystem::path FPath;
    std::string FBytes;
    TFd FFile;
};

TEST_F(WorkingCopy, WritesStayInTheCopyAndAppendedPagesKeepWhatCameBefore)
{
    jet::TWorkingCopy copy(FFile.Get(), FBytes.size());
    copy.Data()[PageSize + 7] = 'X';
    // Far past the room reserved after the file: the bytes move, and come along.
    const std::size_t appended = std::size_t{80} << 20;
    copy.Append(appended);
    ASSERT_EQ(copy.Size(), FBytes.size() + appended);
    copy.Data()[copy.Size() - 1] = 'Z';
    const jet::TView view = copy.View();
    EXPECT_EQ(view[0], 'a');
    EXPECT_EQ(view[PageSize + 7], 'X');
    EXPECT_EQ(view[3 * PageSize], 'd');
    EXPECT_EQ(view[FBytes.size()], 0);
    EXPECT_EQ(view[copy.Size() - 2], 0);
    EXPECT_EQ(view[copy.Size() - 1], 'Z');
    EXPECT_EQ(testing::ReadBytes(FPath), FBytes);  // the file as it was
}

TEST_F(WorkingCopy, TheImageKnowsWhichPagesItHandedOutForWriting)
{
    const std::string loaded = FBytes;
    const jet::TView loadedView(reinterpret_cast<const std::uint8_t*>(loaded.data()), loaded.size());
    jet::TPageImage image(FPath.string(), loadedView, jet::TWorkingCopy(FFile.Get(), FBytes.size()), jet::Jet4Format());
    image.Page(2)[0] = 'Q';
    const std::uint32_t added = image.AppendPage();
    EXPECT_EQ(added, 4u);
    EXPECT_EQ(image.Written(), (std::set<std::uint32_t>{2, 4}));
    EXPECT_EQ(image.Loaded()[2 * PageSize], 'c');  // the file as loaded is not the copy
    EXPECT_EQ(image.Bytes()[2 * PageSize], 'Q');
    EXPECT_EQ(image.PageCount(), 5u);
}

}  // namespace
}  // namespace quorlin
