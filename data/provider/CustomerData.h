#pragma once
// The data module: the one connection, the one query and the data source through which every
// part of the program sees the open table. Its operations report their outcome as a small
// integer and never raise: callers look at the state of the query.

#include <string>

#include "data/provider/Provider.h"

namespace quorlin {

// Whether a path names an existing file; a folder or a device is no file.
bool IsExistingFile(const std::string& path);

class TCustomerData {
public:
    TCustomerData();
    TCustomerData(const TCustomerData&) = delete;
    TCustomerData& operator=(const TCustomerData&) = delete;

    // 1 when the connection is open afterwards; -1 when the file does not exist (nothing
    // changes then) or cannot be opened as a database.
    int ConnectDatabase(const std::string& path);
    // -1 (file missing or connection failed), 1 (connected, table not opened) or 2 (the
    // statement was accepted).
    int OpenTable(const std::string& path, const std::string& table);

    // The statement that opens a table: its name in square brackets, so that any listed name
    // (one with a blank, say) opens and none is pasted into the statement as it stands.
    static std::string SelectStatement(const std::string& table);
    static std::string ConnectionStringFor(const std::string& path);

    // The text of the last provider error the module caught and set aside (empty after an
    // operation without one), for callers that report what went wrong.
    const std::string& LastError() const noexcept { return FLastError; }

    TMdbConnection DataConn;
    TMdbQuery DataQuery;
    TDataSource StatDataSource1;

private:
    int Connect(const std::string& path);
    std::string FLastError;
};

}  // namespace quorlin
