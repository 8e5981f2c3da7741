#include <gtest/gtest.h>

#include "StatisticsTestSupport.h"
#include "batch/CsvReader.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

std::string ErrorOf(const std::string& text)
{
    try {
        ParseCsv(text, "t.csv");
    } catch (const ECsvError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(CsvReader, HeaderAndNumbers)
{
    TMemoryDataSet t = ParseCsv("x1,x2,y\n1,2,3\n2,1,5\n", "t.csv");
    EXPECT_EQ(t.FieldNames(), (std::vector<std::string>{"x1", "x2", "y"}));
    EXPECT_EQ(ColumnValues(t, "y"), (std::vector<double>{3, 5}));
}

TEST(CsvReader, ByteOrderMarkLineEndsAndBlankLines)
{
    TMemoryDataSet t = ParseCsv("\xEF\xBB\xBF" "a,b\r\n1,2\r\n\r\n3,4\n\n", "t.csv");
    EXPECT_EQ(t.FieldName(0), "a");
    EXPECT_EQ(ColumnValues(t, "b"), (std::vector<double>{2, 4}));
    TMemoryDataSet noFinalNewline = ParseCsv("a\n1\n2", "t.csv");
    EXPECT_EQ(noFinalNewline.RecordCount(), 2);
}

TEST(CsvReader, QuotedCells)
{
    TMemoryDataSet t = ParseCsv("\"Rain Data\",\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\"\n\"1.5\",2,3,4\n", "t.csv");
    EXPECT_EQ(t.FieldNames(), (std::vector<std::string>{"Rain Data", "a,b", "say \"hi\"", "two\nlines"}));
    EXPECT_EQ(ColumnValues(t, "rain data"), (std::vector<double>{1.5}));
}

TEST(CsvReader, EmptyCellIsNullButQuotedEmptyTextIsNoNumber)
{
    TMemoryDataSet t = ParseCsv("a,b,c\n,\"\",1\n", "t.csv");
    t.First();
    EXPECT_EQ(t.AsFloat(0), 0.0);
    EXPECT_THROW(t.AsFloat(1), EConvertError);
    EXPECT_EQ(t.AsFloat(2), 1.0);
}

TEST(CsvReader, TextThatIsNoNumberFailsOnlyWhenRead)
{
    TMemoryDataSet t = ReadCsvFile(DataFile("Stations.csv"));
    t.First();
    try {
        t.AsFloat(t.FieldByName("Station"));
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'S000' is not a valid floating point value");
    }
    EXPECT_NO_THROW(t.AsFloat(t.FieldByName("Rain")));
}

TEST(CsvReader, MalformedInputNamesTheLine)
{
    EXPECT_EQ(ErrorOf(""), "t.csv: no header line naming the fields");
    EXPECT_EQ(ErrorOf("a,b\n1,2\n3\n"), "t.csv:3: a record has 1 cells, the header names 2 fields");
    EXPECT_EQ(ErrorOf("a,b\n1,\"2\n"), "t.csv:2: a quoted cell is not closed");
    EXPECT_EQ(ErrorOf("a,b\n1,\"2\"x\n"), "t.csv:2: text after the closing quote of a cell");
    EXPECT_EQ(ErrorOf("a,b\n1,2\"x\n"), "t.csv:2: a quote inside an unquoted cell");
    EXPECT_EQ(ErrorOf("a,,b\n"), "t.csv:1: a field has no name");
    EXPECT_EQ(ErrorOf("a,B,b\n"), "t.csv:1: the field name 'b' appears twice");
    EXPECT_EQ(ErrorOf("a,b\n\"multi\nline\",1\n1,2,3\n"), "t.csv:4: a record has 3 cells, the header names 2 fields");
}

TEST(CsvReader, MissingFile)
{
    try {
        ReadCsvFile("/nonexistent/file.csv");
        FAIL();
    } catch (const ECsvError& e) {
        EXPECT_STREQ(e.what(), "Cannot open '/nonexistent/file.csv': No such file or directory");
    }
}

TEST(CsvReader, ExportedTablesLoad)
{
    TMemoryDataSet weather = ReadCsvFile(DataFile("Weather.csv"));
    EXPECT_EQ(weather.RecordCount(), 30);
    EXPECT_EQ(weather.FieldNames(), (std::vector<std::string>{"Rain", "Temp", "Wind"}));
    TMemoryDataSet empty = ReadCsvFile(DataFile("Empty.csv"));
    EXPECT_EQ(empty.RecordCount(), 0);
    EXPECT_EQ(empty.FieldCount(), 2);
    TMemoryDataSet chinese = ReadCsvFile(DataFile("降水.csv"));
    EXPECT_EQ(chinese.FieldName(3), "降水量");
    EXPECT_EQ(chinese.RecordCount(), 24);
}
