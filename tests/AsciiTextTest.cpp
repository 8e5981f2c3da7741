#include <gtest/gtest.h>

#include "support/AsciiText.h"

using namespace quorlin;

TEST(AsciiText, TrimTakesEveryAsciiBlankFromBothEndsOnly)
{
    EXPECT_EQ(Trim(" \t\r\n\v\fa b\t \n"), "a b");
    EXPECT_EQ(Trim("x"), "x");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim(""), "");
    // A no-break space (U+00A0) is no ASCII blank, and its bytes stay whole.
    EXPECT_EQ(Trim("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
}

TEST(AsciiText, OnlyAsciiLettersChangeCase)
{
    EXPECT_EQ(LowerAscii("Data Source=C:\\DB.MDB"), "data source=c:\\db.mdb");
    EXPECT_EQ(LowerAscii("@[`{"), "@[`{");  // the neighbours of A-Z and a-z
    EXPECT_EQ(LowerAscii("ÄÖ气温X"), "ÄÖ气温x");
    EXPECT_EQ(LowerAscii('Z'), 'z');
    EXPECT_EQ(LowerAscii('\xC4'), '\xC4');
}

TEST(AsciiText, EqualityIgnoresAsciiCaseAndNothingElse)
{
    EXPECT_TRUE(EqualIgnoringCase("Rain Data", "rAIN dATA"));
    EXPECT_TRUE(EqualIgnoringCase("", ""));
    EXPECT_TRUE(EqualIgnoringCase("降水", "降水"));
    EXPECT_FALSE(EqualIgnoringCase("Rain", "Rain "));
    EXPECT_FALSE(EqualIgnoringCase("Ä", "ä"));
    EXPECT_FALSE(EqualIgnoringCase("[", "{"));  // differ by the case bit, but are no letters
}
