#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>

#include "batch/CsvExport.h"
#include "batch/CsvReader.h"

using namespace quorlin;

namespace {

// A one-column table of the given type, each value a number cell or, for a string, a text cell.
TColumnData ColumnOf(TColumnType type, std::vector<std::variant<std::monostate, double, std::string>> values)
{
    TColumnData column;
    column.Info.Name = "v";
    column.Info.Type = type;
    for (const auto& v : values) {
        column.Kinds.push_back(std::holds_alternative<std::monostate>(v) ? TCellKind::Null
                               : std::holds_alternative<double>(v)       ? TCellKind::Number
                                                                         : TCellKind::Text);
        column.Numbers.push_back(std::holds_alternative<double>(v) ? std::get<double>(v) : 0.0);
        column.Texts.push_back(std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "");
    }
    return column;
}

std::vector<std::optional<std::string>> Exported(const TColumnData& column)
{
    std::vector<std::optional<std::string>> texts;
    for (std::size_t row = 0; row < column.Kinds.size(); ++row) texts.push_back(ExportText(column, row));
    return texts;
}

// The fewest significant digits with which printf's %g gives back the same value, found by
// trying them all: the yardstick for the shortest text.
template <typename T>
int FewestDigits(T value)
{
    for (int digits = 1;; ++digits) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(value));
        const T back = sizeof(T) == sizeof(float) ? static_cast<T>(std::strtof(buffer, nullptr)) : static_cast<T>(std::strtod(buffer, nullptr));
        if (back == value) return digits;
    }
}

int SignificantDigits(std::string text)
{
    text = text.substr(0, text.find_first_of("eE"));
    std::erase_if(text, [](char c) { return c < '0' || c > '9'; });
    text.erase(0, text.find_first_not_of('0'));
    text.erase(text.find_last_not_of('0') + 1);
    return std::max(1, static_cast<int>(text.size()));
}

template <typename T>
void ExpectShortestAndExact(T value)
{
    const std::string text = ShortestText(value);
    const T back = sizeof(T) == sizeof(float) ? static_cast<T>(std::strtof(text.c_str(), nullptr)) : static_cast<T>(std::strtod(text.c_str(), nullptr));
    EXPECT_EQ(back, value) << text;
    if (std::fabs(value) < 1e16) {
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    }
    // Fixed notation needs every digit of a whole number, and beyond 1e16 the shorter of the two
    // notations may have more digits; a fraction has no more digits than it needs.
    if (std::fabs(value) < 1e16 && value != std::trunc(value)) {
        EXPECT_EQ(SignificantDigits(text), FewestDigits(value)) << text;
    }
}

}  // namespace

TEST(CsvExportField, QuotesWhatWouldOtherwiseReadDifferently)
{
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(CsvField(" lead"), "\" lead\"");
    EXPECT_EQ(CsvField("trail "), "\"trail \"");
    EXPECT_EQ(CsvField(""), "\"\"");
    EXPECT_EQ(CsvField("气温"), "气温");
}

TEST(CsvExportField, EveryTextReadsBackThroughTheCsvReader)
{
    const std::vector<std::string> texts = {"", " ", "a,b", "\"", "\"\"", "x\r\ny", "\n", " both ", "tab\t", "气温,降水", "end\""};
    TMemoryDataSet table({"name", "value"});
    for (const auto& t : texts) table.AppendRecord({t, std::monostate{}});
    std::ostringstream out;
    WriteCsv(table, out);
    const TMemoryDataSet back = ParseCsv(out.str(), "export");
    ASSERT_EQ(back.RecordCount(), static_cast<std::int32_t>(texts.size()));
    for (std::int32_t row = 0; row < back.RecordCount(); ++row) {
        EXPECT_EQ(back.Cell(row, 0), TCell{texts[row]}) << "row " << row;
        EXPECT_EQ(back.Cell(row, 1), TCell{}) << "row " << row;
    }
}

TEST(CsvExportNumbers, ShortestTextsReadBackExactly)
{
    for (double v : {0.0, -0.0, 1950.0, 0.1, -2.5, 1.0 / 3, 1e15 + 0.5, 9999999999999998.0, 1e16, 123456789012345678.0,
                     1e300, 5e-324, std::numeric_limits<double>::max(), 2.2250738585072014e-308})
        ExpectShortestAndExact(v);
    for (float v : {0.1f, 1950.0f, 3.4028235e38f, 1e-45f, 16777216.0f, -7.25f}) ExpectShortestAndExact(v);

    std::mt19937_64 random(20240229);
    std::uniform_real_distribution<double> exponent(-30, 30);
    for (int i = 0; i < 2000; ++i) {
        const double v = std::pow(10.0, exponent(random)) * (i % 2 ? 1 : -1);
        ExpectShortestAndExact(v);
        ExpectShortestAndExact(static_cast<float>(v));
    }
}

TEST(CsvExportNumbers, NoExponentAndNoTrailingPointBelowTenToTheSixteen)
{
    EXPECT_EQ(ShortestText(1950.0), "1950");
    EXPECT_EQ(ShortestText(1e15), "1000000000000000");
    EXPECT_EQ(ShortestText(0.0001), "0.0001");
    EXPECT_EQ(ShortestText(0.1f), "0.1");
    EXPECT_EQ(ShortestText(static_cast<double>(0.1f)), "0.10000000149011612");
}

TEST(CsvExportValues, EachTypeAsItsReaderKeepsIt)
{
    using V = std::vector<std::optional<std::string>>;
    const std::monostate null;
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Long, {300001.0, -5.0, null})), (V{"300001", "-5", std::nullopt}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Byte, {255.0})), (V{"255"}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Single, {static_cast<double>(1.1f)})), (V{"1.1"}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Double, {1.1, 4.5})), (V{"1.1", "4.5"}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Boolean, {-1.0, 0.0})), (V{"true", "false"}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Text, {std::string("a, \"b\""), std::string("")})), (V{"a, \"b\"", ""}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Binary, {std::string("00FF1A")})), (V{"0x00FF1A"}));
    EXPECT_EQ(Exported(ColumnOf(TColumnType::Ole, {std::string("D0CF")})), (V{"0xD0CF"}));
    const std::string guid = "{4A6C7B3E-1F2D-4C5B-9A8E-0123456789AB}";
    EXPECT_EQ(Exported(ColumnOf(TColumnType::ReplicationId, {guid})), (V{guid}));

    // Currency and Decimal: the reader's exact text, not the nearest double.
    TColumnData money = ColumnOf(TColumnType::Currency, {3.5, -12.34});
    money.Texts = {"3.5000", "-12.3400"};
    EXPECT_EQ(Exported(money), (V{"3.5000", "-12.3400"}));
    TColumnData decimal = ColumnOf(TColumnType::Decimal, {0.1});
    decimal.Texts = {"0.100000000000000000000000001"};
    EXPECT_EQ(Exported(decimal), (V{"0.100000000000000000000000001"}));
}

TEST(CsvExportValues, DatesToTheSecondOnBothSidesOfDayZero)
{
    const double second = 1.0 / 86400;
    using V = std::vector<std::optional<std::string>>;
    EXPECT_EQ(Exported(ColumnOf(TColumnType::DateTime, {2.0, 36585.5, 0.25, -1.25, 2 + 59.6 * second, 3 - 0.2 * second})),
              (V{"1900-01-01 00:00:00", "2000-02-29 12:00:00", "1899-12-30 06:00:00", "1899-12-29 06:00:00",
                 "1900-01-01 00:01:00", "1900-01-02 00:00:00"}));
    // Access's first and last days, and a day number beyond them, which is no date.
    EXPECT_EQ(Exported(ColumnOf(TColumnType::DateTime, {-657434.0, 2958465.999988426, 1e7})),
              (V{"0100-01-01 00:00:00", "9999-12-31 23:59:59", "10000000"}));
}

TEST(CsvExportTable, HeaderThenRecordsWithLineFeeds)
{
    TTableData table;
    table.Columns.push_back(ColumnOf(TColumnType::Text, {std::string("S 1"), std::monostate{}}));
    table.Columns[0].Info.Name = "Station name";
    table.Columns.push_back(ColumnOf(TColumnType::Double, {26.5, std::monostate{}}));
    table.Columns[1].Info.Name = "Rain, mm";
    table.RecordCount = 2;
    std::ostringstream out;
    WriteCsv(table, out);
    EXPECT_EQ(out.str(), "Station name,\"Rain, mm\"\nS 1,26.5\n,\n");
}
