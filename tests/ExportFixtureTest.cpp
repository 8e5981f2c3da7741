// The export of every table of the shared Access fixtures, compared value for value with what an
// independent reader of the format read from the same files (fixtures/expected/*.json). That
// reader lists a table's columns by their numbers; Access shows them, and this program exports
// them, in the order their descriptors stand in the table's definition (ColumnOrderTest.cpp). So
// the columns must be the same, in the descriptors' order here and in the numbers' there.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tests/ProgramSupport.h"
#include "tests/TestFiles.h"
#include "batch/CsvReader.h"
#include "data/format/read/Database.h"
#include "support/AsciiText.h"
#include "tests/SharedFiles.h"

extern char** environ;

using namespace quorlin;
using namespace quorlin::testing;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const fs::path SharedFixturesFolder = SharedFixtures();

struct TFixture {
    std::string Name;  // the expected file's name without ".json"
    fs::path Database;
    fs::path Expected;
};

void PrintTo(const TFixture& fixture, std::ostream* os) { *os << fixture.Name; }

bool IsAccessFile(const fs::path& path)
{
    const std::string ext = LowerAscii(path.extension().string());
    return ext == ".mdb" || ext == ".accdb";
}

// Every Access file directly in the fixtures or in one of their folders whose reading is
// expected: <file>.json or <folder>_<file>.json. One stand-in when the fixtures are absent.
std::vector<TFixture> FixturesWithExpectedReading()
{
    std::vector<TFixture> found;
    std::error_code ec;
    const fs::path expected = SharedFixturesFolder / "expected";
    if (!fs::is_directory(expected, ec)) return {TFixture{"absent", {}, {}}};
    auto consider = [&](const fs::path& file, const std::string& name) {
        if (IsAccessFile(file) && fs::is_regular_file(expected / (name + ".json"), ec))
            found.push_back({name, file, expected / (name + ".json")});
    };
    for (const auto& entry : fs::directory_iterator(SharedFixturesFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory() && name != "expected") {
            for (const auto& inner : fs::directory_iterator(entry.path(), ec))
                consider(inner.path(), name + "_" + inner.path().filename().string());
        } else {
            consider(entry.path(), name);
        }
    }
    std::sort(found.begin(), found.end(), [](const TFixture& a, const TFixture& b) { return a.Name < b.Name; });
    return found;
}

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// The batch command run as a script runs it, each argument passed as it is.
TRun RunBatchExecutable(std::vector<std::string> args)
{
    TempFolder folder;
    const std::string outPath = (folder / "out").string();
    const std::string errPath = (folder / "err").string();
    args.insert(args.begin(), QUORLIN_BATCH_EXE);
    const pid_t pid = StartProgram(args, outPath, errPath);
    TRun run;
    if (pid < 0) {
        run.Err = std::string("cannot start the batch command: ") + std::strerror(errno);
        return run;
    }
    run.Status = ExitStatus(pid);
    run.Out = ReadBytes(outPath);
    run.Err = ReadBytes(errPath);
    return run;
}

std::string Clip(const std::string& text)
{
    return text.size() <= 60 ? text : text.substr(0, 60) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string Show(const TCell& cell)
{
    if (std::holds_alternative<std::monostate>(cell)) return "NULL";
    if (const auto* text = std::get_if<std::string>(&cell)) return "'" + Clip(*text) + "'";
    return std::to_string(std::get<double>(cell));
}

// Equal decimal values give equal texts: no sign on zero, no leading or trailing zeros.
// Empty for a text that is no plain decimal.
std::string CanonicalDecimal(std::string_view text)
{
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    const auto point = text.find('.');
    std::string whole(text.substr(0, point));
    std::string fraction(point == std::string_view::npos ? "" : text.substr(point + 1));
    const auto digitsOnly = [](const std::string& s) { return s.find_first_not_of("0123456789") == std::string::npos; };
    if ((whole.empty() && fraction.empty()) || !digitsOnly(whole) || !digitsOnly(fraction)) return {};
    whole.erase(0, whole.find_first_not_of('0'));
    fraction.erase(fraction.find_last_not_of('0') + 1);
    if (whole.empty()) whole = "0";
    if (whole == "0" && fraction.empty()) negative = false;
    return (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

template <typename T>
bool ReadNumber(const std::string& text, T& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

// Empty when the exported text means the expected value, else what differs.
std::string NumberDifference(const std::string& text, const json& want, const std::string& type)
{
    if (type == "FLOAT") {
        float got = 0;
        if (ReadNumber(text, got) && got == want.get<float>()) return {};
    } else {
        double got = 0;
        const double w = want.get<double>();
        if (ReadNumber(text, got) && std::fabs(got - w) <= 1e-12 * std::max(std::fabs(got), std::fabs(w))) return {};
    }
    return "is '" + Clip(text) + "', expected " + want.dump();
}

std::string CellDifference(const TCell& got, const json& want, const std::string& type)
{
    if (want.is_string() && want == "SKIP") return {};  // attachments, which the reader leaves out
    if (want.is_null()) return std::holds_alternative<std::monostate>(got) ? "" : "is " + Show(got) + ", expected NULL";
    const auto* text = std::get_if<std::string>(&got);
    if (!text) return "is " + Show(got) + ", expected " + Clip(want.dump());
    if (want.is_object() && want.contains("decimal")) {
        const std::string canonical = CanonicalDecimal(*text);
        return !canonical.empty() && canonical == CanonicalDecimal(want["decimal"].get<std::string>())
                   ? ""
                   : "is " + Show(got) + ", expected the decimal " + want["decimal"].dump();
    }
    if (want.is_boolean()) return *text == (want.get<bool>() ? "true" : "false") ? "" : "is " + Show(got) + ", expected " + want.dump();
    if (want.is_number()) return NumberDifference(*text, want, type);
    if (want.is_string()) return *text == want.get<std::string>() ? "" : "is " + Show(got) + ", expected '" + Clip(want.get<std::string>()) + "'";
    return "is " + Show(got) + ", expected " + Clip(want.dump());
}

// The table's columns as its definition lists them, and sorted by their numbers.
std::vector<jet::TColumnDef> Definition(const fs::path& database, const std::string& table)
{
    const jet::TDatabase db(database.string());
    const jet::TCatalogEntry* entry = db.FindTable(table);
    return entry ? db.TableDef(*entry).Columns : std::vector<jet::TColumnDef>{};
}

std::vector<std::string> DescriptorOrder(const fs::path& database, const std::string& table)
{
    std::vector<std::string> names;
    for (const jet::TColumnDef& c : Definition(database, table)) names.push_back(c.Name);
    return names;
}

std::vector<std::string> ByNumber(const fs::path& database, const std::string& table)
{
    std::vector<jet::TColumnDef> columns = Definition(database, table);
    std::stable_sort(columns.begin(), columns.end(), [](const auto& a, const auto& b) { return a.Number < b.Number; });
    std::vector<std::string> names;
    for (const jet::TColumnDef& c : columns) names.push_back(c.Name);
    return names;
}

// What differs between the export of one table and its expected reading; empty when nothing.
std::vector<std::string> TableDifferences(const TFixture& fixture, const std::string& table, const json& expected)
{
    const TRun run = RunBatchExecutable({"export", fixture.Database.string(), "--table", table});
    if (run.Status != 0) return {"export exited with status " + std::to_string(run.Status) + ": " + run.Err};
    TMemoryDataSet got;
    try {
        got = ParseCsv(run.Out, table);
    } catch (const ECsvError& e) {
        return {std::string("the exported text is no CSV: ") + e.what()};
    }

    std::vector<std::string> names, types;
    for (const auto& column : expected["columns"]) {
        names.push_back(column[0].get<std::string>());
        types.push_back(column[1].get<std::string>());
    }
    const std::vector<std::string> descriptors = DescriptorOrder(fixture.Database, table);
    if (got.FieldNames() != descriptors)
        return {"the columns are " + json(got.FieldNames()).dump() + ", the definition lists " + json(descriptors).dump()};
    if (ByNumber(fixture.Database, table) != names)
        return {"the columns by number are " + json(ByNumber(fixture.Database, table)).dump() + ", expected " + json(names).dump()};

    std::vector<std::string> differences;
    const auto& rows = expected["rows"];
    if (static_cast<std::size_t>(got.RecordCount()) != rows.size())
        differences.push_back(std::to_string(got.RecordCount()) + " records, expected " + std::to_string(rows.size()));
    const std::size_t common = std::min(rows.size(), static_cast<std::size_t>(got.RecordCount()));
    for (std::size_t row = 0; row < common; ++row) {
        for (std::size_t field = 0; field < names.size(); ++field) {
            const auto ours = static_cast<std::int32_t>(std::find(descriptors.begin(), descriptors.end(), names[field]) - descriptors.begin());
            const std::string difference = CellDifference(got.Cell(static_cast<std::int32_t>(row), ours), rows[row][field], types[field]);
            if (!difference.empty())
                differences.push_back("record " + std::to_string(row + 1) + ", " + names[field] + " (" + types[field] + ") " + difference);
        }
    }
    return differences;
}

class ExportedFixture : public ::testing::TestWithParam<TFixture> {};

}  // namespace

TEST_P(ExportedFixture, EveryTableReadsAsTheIndependentReaderReadsIt)
{
    const TFixture& fixture = GetParam();
    if (fixture.Database.empty()) GTEST_SKIP() << SharedFixturesFolder << " with its expected readings is absent";
    std::ifstream in(fixture.Expected);
    const json expected = json::parse(in);

    std::vector<std::string> differing;
    for (const auto& [table, content] : expected["tables"].items()) {
        const std::vector<std::string> differences = TableDifferences(fixture, table, content);
        if (differences.empty()) continue;
        differing.push_back(table);
        std::string list;
        for (std::size_t i = 0; i < std::min<std::size_t>(differences.size(), 8); ++i) list += "\n  " + differences[i];
        if (differences.size() > 8) list += "\n  ... and " + std::to_string(differences.size() - 8) + " more";
        ADD_FAILURE() << fixture.Name << ", table '" << table << "': " << differences.size() << " difference(s)" << list;
    }
    std::cout << "[ tables   ] " << fixture.Name << ": " << expected["tables"].size() << " compared, "
              << (differing.empty() ? "none differs" : json(differing).dump() + " differ") << '\n';
}

INSTANTIATE_TEST_SUITE_P(SharedFixtures, ExportedFixture, ::testing::ValuesIn(FixturesWithExpectedReading()),
                         [](const ::testing::TestParamInfo<TFixture>& info) {
                             std::string name = info.param.Name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
