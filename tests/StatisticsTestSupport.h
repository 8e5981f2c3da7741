#pragma once
// Tables and files for the statistics, report and batch tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "tests/TestFiles.h"
#include "statistics/MemoryDataSet.h"

namespace quorlin::testing {

// A table of numbers, one inner list a record.
inline TMemoryDataSet TableOf(std::vector<std::string> names, std::initializer_list<std::initializer_list<TCell>> records)
{
    TMemoryDataSet table(std::move(names));
    for (const auto& record : records) table.AppendRecord(std::vector<TCell>(record));
    return table;
}

// The worked five-record example.
inline TMemoryDataSet SampleTable()
{
    return TableOf({"x1", "x2", "y"}, {{1.0, 2.0, 3.0}, {2.0, 1.0, 5.0}, {3.0, 4.0, 7.0}, {4.0, 3.0, 10.0}, {5.0, 6.0, 12.0}});
}

inline std::string DataFile(const std::string& name) { return std::string(QUORLIN_TEST_DATA) + "/" + name; }

// A table of plain numbers from a file, read without the batch command's CSV reader so that the
// statistics tests need nothing beyond the statistics: a line of names, then lines of numbers,
// comma-separated, nothing quoted.
inline TMemoryDataSet NumberTableFile(const std::string& path)
{
    auto cellsOf = [](const std::string& line) {
        std::vector<std::string> cells;
        std::istringstream in(line);
        for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
        return cells;
    };
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    TMemoryDataSet table(cellsOf(line));
    while (std::getline(in, line)) {
        const std::vector<std::string> cells = cellsOf(line);
        table.AppendRecord(std::vector<TCell>(cells.begin(), cells.end()));
    }
    return table;
}

// One of the test data's tables of plain numbers.
inline TMemoryDataSet NumberTable(const std::string& name) { return NumberTableFile(DataFile(name)); }

// A copy of the test database that may be written, whatever mode the original has.
inline std::string WritableCopy(const TempFolder& folder, const std::string& name = "r.mdb")
{
    const auto path = folder / name;
    std::filesystem::copy_file(DataFile("regression.mdb"), path);
    std::filesystem::permissions(path, std::filesystem::perms(0644));
    return path.string();
}

// Every value of one field, read through the cursor from the first record to the last.
inline std::vector<double> ColumnValues(TDataSet& data, const std::string& field)
{
    std::vector<double> values;
    const std::int32_t f = data.FieldByName(field);
    for (data.First(); !data.Eof(); data.Next()) values.push_back(data.AsFloat(f));
    return values;
}

}  // namespace quorlin::testing
