#include "data/provider/CustomerData.h"

#include <filesystem>

#include "support/Messages.h"

namespace quorlin {

TCustomerData::TCustomerData() : DataQuery(DataConn), StatDataSource1(&DataQuery) {}

std::string TCustomerData::ConnectionStringFor(const std::string& path)
{
    return TConnectionString::Build(JetProvider, path);
}

std::string TCustomerData::SelectStatement(const std::string& table)
{
    std::string quoted;
    for (char c : table) {
        if (c == ']') quoted.push_back(']');
        quoted.push_back(c);
    }
    return "SELECT * FROM [" + quoted + "]";
}

bool IsExistingFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

int TCustomerData::Connect(const std::string& path)
{
    FLastError.clear();
    if (!IsExistingFile(path)) {
        FLastError = Format(Tr("Could not find file '%1$s'."), path);
        return -1;
    }
    const std::string connection = ConnectionStringFor(path);
    DataQuery.Close();
    DataConn.Close();
    DataConn.SetConnectionString(connection);
    try {
        DataConn.Open();
        return 1;
    } catch (const std::exception& e) {
        FLastError = e.what();
        return -1;
    }
}

int TCustomerData::ConnectDatabase(const std::string& path) { return Connect(path); }

int TCustomerData::OpenTable(const std::string& path, const std::string& table)
{
    int result = Connect(path);
    if (result == -1 && !IsExistingFile(path)) return -1;
    if (!DataConn.Connected() || table.empty()) return result;

    std::vector<std::string> names;
    DataConn.GetTableNames(names, false);
    bool listed = false;
    for (const auto& name : names) listed = listed || SameFieldName(name, table);
    if (!listed) {
        FLastError = Format(Tr("The database has no table or view named '%1$s'."), table);
        return result;
    }

    DataQuery.Close();
    DataQuery.SQL().Clear();
    DataQuery.SQL().Add(SelectStatement(table));
    try {
        DataQuery.Open();
        return 2;
    } catch (const std::exception& e) {
        FLastError = e.what();
        return 1;
    }
}

}  // namespace quorlin
