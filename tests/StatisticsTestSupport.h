#pragma once
// Tables and files for the statistics, report and batch tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

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

inline std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A fresh folder for one test, removed with everything in it afterwards.
class TempFolder {
public:
    TempFolder()
    {
        std::random_device rd;
        FPath = std::filesystem::temp_directory_path() / ("quorlin-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(FPath);
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(FPath, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const noexcept { return FPath; }
    std::filesystem::path operator/(const std::string& name) const { return FPath / name; }
    // Names of the entries in the folder, to check that nothing was left behind.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(FPath)) names.push_back(e.path().filename().string());
        return names;
    }

private:
    std::filesystem::path FPath;
};

inline std::string DataFile(const std::string& name) { return std::string(QUORLIN_TEST_DATA) + "/" + name; }

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
