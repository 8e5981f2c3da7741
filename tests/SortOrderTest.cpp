// The sort orders' codes files and the tables the build makes of them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "data/format/write/TextKey.h"
#include "data/format/write/sortorder/KeyCodesFile.h"

using namespace quorlin;

namespace {

const std::string Codes = QUORLIN_SOURCE_DIR "/data/format/write/sortorder/";

std::string Lines(std::istream& in)
{
    std::string all, line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') all += line + "\n";
    return all;
}

}  // namespace

// What the program keys by is what the files in the repository say, for every unit, and the
// files say it in the fewest lines their runs allow.
TEST(SortOrderTables, TheBuiltTablesHoldEveryUnitOfTheirFilesAndTheFilesWriteBackAsThey)
{
    for (const auto& [file, order] : {std::pair{"general-legacy.codes", &jet::GeneralLegacySortOrder()},
                                      std::pair{"general.codes", &jet::GeneralSortOrder()}}) {
        const std::vector<jet::TCharCode> codes = jet::ReadKeyCodes(Codes + file);
        ASSERT_EQ(codes.size(), 0x10000u);
        std::size_t kinds[6] = {};
        for (std::size_t c = 0; c < codes.size(); ++c) {
            const jet::TCharCodes built = order->Codes(static_cast<char16_t>(c));
            const jet::TCharCode& read = codes[c];
            ASSERT_EQ(built.Kind, read.Kind) << file << ", U+" << std::hex << c;
            ASSERT_TRUE(std::ranges::equal(built.Weight, read.Weight)) << file << ", U+" << std::hex << c;
            ASSERT_TRUE(std::ranges::equal(built.Accent, read.Accent)) << file << ", U+" << std::hex << c;
            ASSERT_TRUE(std::ranges::equal(built.Code, read.Code)) << file << ", U+" << std::hex << c;
            ASSERT_EQ(built.Mark, read.Mark) << file << ", U+" << std::hex << c;
            ++kinds[static_cast<int>(read.Kind)];
        }
        for (const std::size_t count : kinds) EXPECT_GT(count, 0u) << file << ": every kind of character occurs";
        std::ifstream in(Codes + file);
        std::ostringstream again;
        jet::WriteKeyCodes(again, codes);
        std::istringstream written(again.str());
        EXPECT_EQ(Lines(written), Lines(in)) << file;
    }
}

// A codes file that does not read is refused naming its line, never half read.
TEST(SortOrderTables, AMalformedLineIsRefusedWithItsNumber)
{
    const std::string path = ::testing::TempDir() + "/bad.codes";
    for (const char* bad : {"0041 1 0 W 4A\n", "0041 1 0 Q 4A - - -\n", "FFFF 2 0 W 4A - - -\n", "0041 1 0 W 4 - - -\n",
                            "0041 300 1 W FF - - -\n"}) {
        std::ofstream(path) << "# a comment\n" << bad;
        try {
            jet::ReadKeyCodes(path);
            ADD_FAILURE() << "read: " << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
        }
    }
}
