#include <gtest/gtest.h>

#include <cmath>

#include "tests/StatisticsTestSupport.h"
#include "statistics/DataSet.h"

using namespace quorlin;
using namespace quorlin::testing;

TEST(TextToFloat, DecimalNumbers)
{
    EXPECT_EQ(TextToFloat("1.5"), 1.5);
    EXPECT_EQ(TextToFloat("-3"), -3.0);
    EXPECT_EQ(TextToFloat("+2.25"), 2.25);
    EXPECT_EQ(TextToFloat("4e1"), 40.0);
    EXPECT_EQ(TextToFloat("1E-2"), 0.01);
    EXPECT_EQ(TextToFloat(".5"), 0.5);
    EXPECT_EQ(TextToFloat("5."), 5.0);
    EXPECT_EQ(TextToFloat("  04.00\t"), 4.0);
    EXPECT_EQ(TextToFloat("0.1"), 0.1);  // correctly rounded
    EXPECT_EQ(TextToFloat("1e-400"), 0.0);
    EXPECT_EQ(TextToFloat("-4.9e-324"), -4.9e-324);
}

TEST(TextToFloat, NotNumbers)
{
    for (const char* text : {"", "   ", "abc", "1,5", "1.5.2", "--1", "+-1", "1e", "e5", "inf", "-inf", "nan", "0x10",
                             "1 2", "S000", ".", "+", "1e400", "-1e400", "１"}) {
        double v = 0;
        EXPECT_FALSE(TryTextToFloat(text, v)) << "'" << text << "'";
    }
    try {
        TextToFloat("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
    EXPECT_THROW(TextToFloat(""), EConvertError);
}

TEST(MemoryDataSet, CursorMovesAndStops)
{
    TMemoryDataSet t = TableOf({"a"}, {{1.0}, {2.0}, {3.0}});
    EXPECT_EQ(t.RecordCount(), 3);
    t.First();
    EXPECT_EQ(t.RecNo(), 1);
    EXPECT_FALSE(t.Eof());
    t.Next();
    t.Next();
    EXPECT_EQ(t.RecNo(), 3);
    EXPECT_FALSE(t.Eof());
    t.Next();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.RecNo(), 3);
    EXPECT_EQ(t.AsFloat(0), 3.0);

    t.First();
    EXPECT_EQ(t.MoveBy(1), 1);
    EXPECT_EQ(t.AsFloat(0), 2.0);
    EXPECT_EQ(t.MoveBy(5), 1);
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.MoveBy(-10), -2);
    EXPECT_EQ(t.RecNo(), 1);
    EXPECT_FALSE(t.Eof());
}

TEST(MemoryDataSet, EmptyTable)
{
    TMemoryDataSet t({"a"});
    t.First();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.RecNo(), 0);
    EXPECT_EQ(t.MoveBy(-1), 0);
    EXPECT_THROW(t.AsFloat(0), EDatabaseError);
}

TEST(MemoryDataSet, FieldsAndValues)
{
    TMemoryDataSet t = TableOf({"Rain", "Note", "y"}, {{std::monostate{}, "x", 1.0}, {"7.5", "", 2.0}});
    EXPECT_EQ(t.FieldByName("rain"), 0);
    EXPECT_EQ(t.FieldByName("Y"), 2);
    EXPECT_EQ(t.FindField("none"), -1);
    try {
        t.FieldByName("Wind");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'Wind' not found");
    }
    t.First();
    EXPECT_EQ(t.AsFloat(0), 0.0);
    EXPECT_THROW(t.AsFloat(1), EConvertError);
    t.Next();
    EXPECT_EQ(t.AsFloat(0), 7.5);
    try {
        t.AsFloat(1);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid floating point value");
    }
    EXPECT_THROW(t.AddField("RAIN"), EDatabaseError);
    EXPECT_THROW(t.AppendRecord({1.0}), EDatabaseError);
}

TEST(MemoryDataSet, CellsReadBackAsTheyWereAppended)
{
    // Texts stay texts, exactly as given, whether they read as numbers or not.
    const std::vector<std::vector<TCell>> records = {
        {std::monostate{}, std::string("04.50"), 1.0},
        {std::string("abc"), std::string(""), -0.0},
        {std::string(" 7 "), std::monostate{}, 2.5},
    };
    TMemoryDataSet t({"a", "b", "c"});
    for (const auto& record : records) t.AppendRecord(record);
    t.MoveBy(1);
    for (std::int32_t row = 0; row < 3; ++row)
        for (std::int32_t field = 0; field < 3; ++field)
            EXPECT_EQ(t.Cell(row, field), records[row][field]) << "row " << row << ", field " << field;
    EXPECT_EQ(t.RecNo(), 2);
    EXPECT_TRUE(std::signbit(std::get<double>(t.Cell(1, 2))));
    EXPECT_THROW(t.Cell(3, 0), EDatabaseError);
    EXPECT_THROW(t.Cell(0, 3), EDatabaseError);

    // A field added later is empty in the records before it.
    t.AddField("d");
    t.AppendRecord({1.0, 2.0, 3.0, std::string("x")});
    EXPECT_EQ(t.Cell(0, 3), TCell{});
    EXPECT_EQ(t.Cell(3, 3), TCell{std::string("x")});
    t.First();
    EXPECT_EQ(t.AsFloat(1), 4.5);
}

TEST(MemoryDataSet, ControlsNest)
{
    TMemoryDataSet t({"a"});
    t.DisableControls();
    t.DisableControls();
    t.EnableControls();
    EXPECT_TRUE(t.ControlsDisabled());
    t.EnableControls();
    EXPECT_FALSE(t.ControlsDisabled());
}

// What a file holds is echoed in messages only in part and only printable: a 10 MB cell is not
// printed whole, a NUL does not cut the message short.
TEST(Messages, EchoedTextIsCutAndEscaped)
{
    const std::string huge(10'000'000, '7');
    const std::string message = InvalidFloatMessage(huge + "x");
    EXPECT_EQ(message, "'" + std::string(60, '7') + "\u2026' is not a valid floating point value");
    EXPECT_EQ(EchoedText(std::string("1\0" "2\n", 4)), "1\\x002\\x0A");
    // Characters, not bytes, are counted: a Chinese name is never cut inside a character.
    std::string chinese;
    for (int i = 0; i < 70; ++i) chinese += "降";
    EXPECT_EQ(EchoedText(chinese), chinese.substr(0, 60 * 3) + "\u2026");
    EXPECT_EQ(EchoedText("short"), "short");
}
