#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <iostream>

#include "tests/BoundedRun.h"
#include "tests/StatisticsTestSupport.h"
#include "batch/CsvReader.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

std::string ErrorOf(const std::string& text, const TCsvLimits& limits = {})
{
    try {
        ParseCsv(text, "t.csv", limits);
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

// The limits are small here to show where they bite: a line at its limit reads, a byte more is
// refused naming its line, whether its length is one cell, many cells or a quoted cell running
// over lines; a header naming more fields than allowed is refused, and a record with more
// cells than the header still has them all counted.
TEST(CsvReader, ALineBeyondItsLimitIsRefusedNamingIt)
{
    const TCsvLimits small{.LineBytes = 16, .Fields = 4};
    const std::string tooLong = "the line is longer than 16 bytes, the most a line of a CSV file may hold";
    EXPECT_EQ(ParseCsv("a,b\n1234567,12345678\r\n", "t.csv", small).RecordCount(), 1);
    EXPECT_EQ(ErrorOf("a,b\n1234567,123456789\n", small), "t.csv:2: " + tooLong);
    EXPECT_EQ(ErrorOf("a,b\n1,2\n1,1,1,1,1,1,1,1,1\n", small), "t.csv:3: " + tooLong);
    EXPECT_EQ(ErrorOf("a,b\n1,\"x\nx\nx\nx\nx\nx\nx\nx\"\n", small), "t.csv:2: " + tooLong);
    EXPECT_EQ(ErrorOf("a,b,c,d,e\n", small), "t.csv:1: the header names more than 4 fields");
    EXPECT_EQ(ParseCsv("a,b,c,d\n1,2,3,4\n", "t.csv", small).FieldCount(), 4);
    EXPECT_EQ(ErrorOf("a,b\n1,2,3,4,5\n", small), "t.csv:2: a record has 5 cells, the header names 2 fields");
}

// A file is read a chunk of 1 MiB at a time: a doubled quote, a CR LF and a quoted line break
// that straddle the chunks' edges, and the byte-order mark, read as they do in one piece.
TEST(CsvReader, AFileReadsAcrossItsChunksAsInOnePiece)
{
    constexpr std::size_t MiB = std::size_t{1} << 20;
    std::string text = "\xEF\xBB\xBF" "name,v\r\n";
    const auto fillTo = [&](std::size_t position) { text += std::string(position - text.size() - 3, 'p') + ",0\n"; };
    fillTo(MiB - 3);
    text += "\"a\"\"b\",1\n";  // its doubled quote at the first edge
    fillTo(2 * MiB - 7);
    text += "crlf,2\r\n";  // CR before the second edge, LF after it
    fillTo(3 * MiB - 1);
    text += "\"two\nlines\",3\n";  // the opening quote the last byte before the third edge
    text += "last,4";
    TempFolder folder;
    const std::string path = (folder / "chunks.csv").string();
    WriteBytes(path, text);
    TMemoryDataSet whole = ParseCsv(text, path), chunked = ReadCsvFile(path);
    ASSERT_EQ(chunked.RecordCount(), whole.RecordCount());
    EXPECT_EQ(chunked.FieldNames(), (std::vector<std::string>{"name", "v"}));
    for (std::int32_t r = 0; r < whole.RecordCount(); ++r)
        for (std::int32_t f = 0; f < 2; ++f) ASSERT_EQ(chunked.Cell(r, f), whole.Cell(r, f)) << r;
    const std::int32_t n = chunked.RecordCount();
    EXPECT_EQ(chunked.Cell(1, 0), TCell(std::string("a\"b")));
    EXPECT_EQ(chunked.Cell(3, 0), TCell(std::string("crlf")));
    EXPECT_EQ(chunked.Cell(5, 0), TCell(std::string("two\nlines")));
    EXPECT_EQ(chunked.Cell(n - 1, 1), TCell(std::string("4")));
}

// A gigabyte on one line (a sparse file: after "1," a cell of zero bytes, once plain and once
// inside a quote never closed) is refused at its 16 MiB naming line 2, in under two seconds and
// 100 MiB of memory; the file is removed afterwards. The ceiling on the address space only keeps
// a failing reader from taking the machine: a build with the charts maps some 80 MiB of Qt's
// libraries before it reads a byte, which is address space, not memory taken.
TEST(CsvReader, AGigabyteLineIsRefusedAtOnceInLittleMemory)
{
    TempFolder folder;
    for (const std::string start : {"a,b\n1,", "a,b\n1,\""}) {
        const std::string path = (folder / "gigabyte.csv").string();
        WriteBytes(path, start);
        ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
        const TBoundedRun run = RunBounded({QUORLIN_BATCH_EXE, "fields", path}, std::uint64_t{512} << 20, folder);
        std::filesystem::remove(path);
        std::cout << "[ figures  ] a 1 GiB line after '" << start.substr(4) << "': " << run.Seconds << " s, peak "
                  << run.PeakKiB / 1024 << " MiB\n";
        ASSERT_TRUE(run.Exited) << Describe(run);
        EXPECT_EQ(run.Status, 2) << Describe(run);
        EXPECT_EQ(run.Err, "quorlin-batch: " + path +
                               ":2: the line is longer than 16 MiB, the most a line of a CSV file may hold\n");
        EXPECT_LT(run.Seconds, 2.0 * GuardScale) << Describe(run);
        if (!SanitizedBuild) {
            EXPECT_LT(run.PeakKiB, 100 << 10) << Describe(run);
        }
    }
}
