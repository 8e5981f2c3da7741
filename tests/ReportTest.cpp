#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/StatisticsTestSupport.h"
#include "statistics/Statistics01.h"
#include "support/ReportTarget.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

// The worked example's report as it must stand on disk: code page 936, CR LF after every line.
const std::string WorkedReportBytes =
    "[\xBB\xD8\xB9\xE9\xB7\xBD\xB3\xCC]\r\n"
    "y=0.517+2.383*x1-0.083*x2\r\n"
    "[\xB7\xBD\xB2\xEE\xB9\xB1\xCF\xD7]\r\n"
    "\xCE\xDE\xD0\xA7\xB7\xBD\xB2\xEE\xB9\xB1\xCF\xD7Q=0.05333\r\n"
    "\xD3\xD0\xD0\xA7\xB7\xBD\xB2\xEE\xB9\xB1\xCF\xD7U=10.58667\r\n"
    "\xB8\xB4\xCF\xE0\xB9\xD8\xCF\xB5\xCA\xFDR=0.99749\r\n"
    "[\xCF\xE0\xB9\xD8\xCF\xB5\xCA\xFDR\xBE\xD8\xD5\xF3]\r\n"
    "x1  x2  |  y\r\n"
    " 1.00000   0.82199  |   0.99718\r\n"
    " 0.82199   1.00000  |   0.80542\r\n"
    "[\xD0\xAD\xB7\xBD\xB2\xEES\xBE\xD8\xD5\xF3]\r\n"
    "x1  x2  |  y\r\n"
    " 2.00000   2.00000  |   4.60000\r\n"
    " 2.00000   2.96000  |   4.52000\r\n";

std::unique_ptr<TStatistics> WorkedExample(TMemoryDataSet& data)
{
    auto stats = std::make_unique<TStatistics>(data, std::vector<std::string>{"x1", "x2"}, "y", 4.0, MethodFull);
    stats->MakeEquationText();
    return stats;
}

}  // namespace

TEST(Report, WorkedExampleLineByLine)
{
    TMemoryDataSet data = SampleTable();
    const auto lines = WorkedExample(data)->ReportLines();
    const std::vector<std::string> expected = {
        "[回归方程]", "y=0.517+2.383*x1-0.083*x2", "[方差贡献]", "无效方差贡献Q=0.05333", "有效方差贡献U=10.58667",
        "复相关系数R=0.99749", "[相关系数R矩阵]", "x1  x2  |  y", " 1.00000   0.82199  |   0.99718",
        " 0.82199   1.00000  |   0.80542", "[协方差S矩阵]", "x1  x2  |  y", " 2.00000   2.00000  |   4.60000",
        " 2.00000   2.96000  |   4.52000"};
    EXPECT_EQ(lines, expected);
}

TEST(Report, WorkedExampleBytesOnDisk)
{
    TempFolder folder;
    TMemoryDataSet data = SampleTable();
    EXPECT_EQ(WorkedExample(data)->SaveReport((folder / "out.txt").string()), 0);
    EXPECT_EQ(ReadBytes(folder / "out.txt"), WorkedReportBytes);
}

TEST(Report, VarianceSharesAddUpToTheVarianceOfY)
{
    TMemoryDataSet data = SampleTable();
    auto stats = WorkedExample(data);
    EXPECT_NEAR(stats->ResidualVariance() + stats->RegressionVariance(), 10.64, 1e-12);
}

TEST(Report, OneFactorRowsAndNegativeNumbers)
{
    TMemoryDataSet data = TableOf({"x", "y"}, {{1.0, 4.0}, {2.0, 3.0}, {3.0, 1.0}});
    TStatistics stats(data, {"x"}, "y", 4.0, MethodFull);
    stats.MakeEquationText();
    const auto lines = stats.ReportLines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[7], "x  |  y");
    EXPECT_EQ(lines[8], " 1.00000  |  -0.98198");
    EXPECT_EQ(lines[10], "x  |  y");
    EXPECT_EQ(lines[11], " 0.66667  |  -1.00000");
}

TEST(Report, LineCountGrowsWithTheFactors)
{
    TMemoryDataSet data = NumberTable("Stepwise4.csv");
    TStatistics stats(data, {"X0", "X1", "X2", "X3"}, "Y", 4.0, MethodStepwise);
    stats.MakeEquationText();
    const auto lines = stats.ReportLines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[7], "X0  X1  X2  X3  |  Y");
    EXPECT_EQ(lines[12], "[协方差S矩阵]");
    // Each row: three entries "% .5f  ", the fourth "% .5f  |  ", then the Y column.
    EXPECT_EQ(lines[8].substr(0, 30), " 1.00000  -0.80000   0.40000  ");
    EXPECT_EQ(lines[8].substr(lines[8].size() - 21), "-0.20000  |   0.40000");
}

TEST(Report, ChineseNamesAreWrittenInCodePage936)
{
    TempFolder folder;
    TMemoryDataSet data = NumberTable("降水.csv");
    TStatistics stats(data, {"气温", "气压", "风速"}, "降水量", 4.0, MethodFull);
    stats.MakeEquationText();
    stats.SaveReport((folder / "降水.txt").string());
    const std::string bytes = ReadBytes(folder / "降水.txt");
    // 气温 = C6F8 CEC2, 降水 = BDB5 CBAE, and no byte-order mark.
    EXPECT_NE(bytes.find("\xC6\xF8\xCE\xC2  "), std::string::npos);
    EXPECT_NE(bytes.find("|  \xBD\xB5\xCB\xAE\xC1\xBF\r\n"), std::string::npos);
    EXPECT_EQ(bytes.rfind("[\xBB\xD8", 0), 0u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

TEST(ReportFailures, MissingFolderIsReportedAndNothingIsWritten)
{
    TempFolder folder;
    TMemoryDataSet data = SampleTable();
    auto stats = WorkedExample(data);
    const std::string path = (folder / "no-such-folder" / "out.txt").string();
    try {
        stats->SaveReport(path);
        FAIL() << "saving into a missing folder succeeded";
    } catch (const EReportError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write report '" + path + "': No such file or directory");
    }
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(ReportFailures, ReadOnlyReportIsLeftUnchanged)
{
    TempFolder folder;
    const auto path = folder / "old.txt";
    WriteBytes(path, "old report\r\n");
    ::chmod(path.c_str(), 0444);
    TMemoryDataSet data = SampleTable();
    auto stats = WorkedExample(data);
    try {
        stats->SaveReport(path.string());
        FAIL() << "a read-only report was replaced";
    } catch (const EReportError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write report '" + path.string() + "': Permission denied");
    }
    EXPECT_EQ(ReadBytes(path), "old report\r\n");
    EXPECT_EQ(folder.Entries().size(), 1u);
}

TEST(ReportFailures, RefusedTargetsAreNamedAndLeftAlone)
{
    TempFolder folder;
    const auto source = folder / "data.csv";
    WriteBytes(source, "x1,x2,y\n");
    const std::string database = WritableCopy(folder, "db.txt");
    const std::string databaseBytes = ReadBytes(database);
    TMemoryDataSet data = SampleTable();
    auto stats = WorkedExample(data);
    const std::pair<std::string, std::string> cases[] = {
        {source.string(), "it is the source being read"},
        {database, "it is an Access database"},
        {folder.Path().string(), "it is not a regular file (a folder)"},
    };
    for (const auto& [path, reason] : cases) {
        try {
            stats->SaveReport(path, source.string());
            ADD_FAILURE() << path << " was written";
        } catch (const EReportTargetRefused& e) {
            EXPECT_EQ(std::string(e.what()), "The report cannot be written to '" + path + "': " + reason);
        }
    }
    EXPECT_EQ(ReadBytes(source), "x1,x2,y\n");
    EXPECT_EQ(ReadBytes(database), databaseBytes);
    EXPECT_EQ(folder.Entries().size(), 2u);
}

TEST(Report, SavingAgainReplacesTheWholeFile)
{
    TempFolder folder;
    const auto path = folder / "r.txt";
    WriteBytes(path, std::string(5000, 'x'));
    TMemoryDataSet data = SampleTable();
    auto stats = WorkedExample(data);
    stats->SaveReport(path.string());
    stats->SaveReport(path.string());
    EXPECT_EQ(ReadBytes(path), WorkedReportBytes);
}
