#pragma once
// Our database provider: a connection to an Access database file, its listing of tables and
// views, and a query that opens one table with every record loaded into memory, as a
// client-side cursor does. It stands in for the database engine and its components, which this
// platform does not have, and offers what the data module and its users need of them.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "statistics/DataSet.h"
#include "data/records/FileObjects.h"
#include "data/records/ProviderError.h"
#include "data/records/TableData.h"

namespace quorlin {

// The parts of a connection string: "Key=Value" pairs separated by ";"; a value may be enclosed
// in double quotes (an inner quote doubled), which lets it hold ";".
struct TConnectionString {
    std::string Provider;
    std::string DataSource;

    static TConnectionString Parse(std::string_view text);
    // Quotes the file path when it holds ";" or a double quote.
    static std::string Build(const std::string& provider, const std::string& path, bool persistSecurityInfo = false);
};

constexpr const char* JetProvider = "Microsoft.Jet.OLEDB.4.0";

class TMdbQuery;
struct TRecordChange;

class TMdbConnection {
public:
    TMdbConnection() = default;
    ~TMdbConnection();
    TMdbConnection(const TMdbConnection&) = delete;
    TMdbConnection& operator=(const TMdbConnection&) = delete;

    const std::string& ConnectionString() const noexcept { return FConnectionString; }
    // Takes effect at the next Open.
    void SetConnectionString(std::string text) { FConnectionString = std::move(text); }

    // Opens the database the connection string names; raises EProviderError when it cannot.
    void Open();
    // Closes the connection and every query on it; closing a closed connection is harmless.
    void Close();
    bool Connected() const noexcept { return FConnected; }
    const std::string& FileName() const noexcept { return FFileName; }

    // Clears list and fills it with the tables, then the views, each group sorted by name with
    // letter case ignored; system tables (first) only when asked.
    void GetTableNames(std::vector<std::string>& list, bool systemTables) const;
    // The object of that name (letter case ignored), or nullptr.
    const TCatalogObject* FindObject(std::string_view name) const noexcept;

private:
    friend class TMdbQuery;
    std::string FConnectionString;
    bool FConnected = false;
    std::string FFileName;
    std::vector<TCatalogObject> FCatalog;
    std::vector<TMdbQuery*> FQueries;
};

// Told of what happens to a dataset, for data-aware views (a grid, a record navigator).
class TDataSetListener {
public:
    virtual ~TDataSetListener() = default;
    virtual void ActiveChanged() {}   // opened or closed
    virtual void DataSetChanged() {}  // records replaced or controls resumed
    virtual void DataSetScrolled() {} // the current record moved
    virtual void StateChanged() {}    // editing began or ended
};

enum class TDataSetState : std::uint8_t { Inactive, Browse, Edit, Insert };

// The statement lines of a query.
class TStatementLines {
public:
    void Clear() { FLines.clear(); }
    void Add(std::string line) { FLines.push_back(std::move(line)); }
    const std::vector<std::string>& Lines() const noexcept { return FLines; }
    std::string Text() const;

private:
    std::vector<std::string> FLines;
};

class TMdbQuery : public TDataSet {
public:
    explicit TMdbQuery(TMdbConnection& connection);
    ~TMdbQuery() override;
    TMdbQuery(const TMdbQuery&) = delete;
    TMdbQuery& operator=(const TMdbQuery&) = delete;

    TStatementLines& SQL() noexcept { return FSQL; }
    TMdbConnection& Connection() const noexcept { return FConnection; }

    // Runs the statement as a query returning rows; raises EProviderError when it is rejected.
    // Accepted: SELECT * FROM followed by one table name, plain or in square brackets.
    void Open();
    void Close();
    bool Active() const noexcept { return FActive; }

    std::int32_t FieldCount() const noexcept { return static_cast<std::int32_t>(FData.Columns.size()); }
    const TColumnInfo& Field(std::int32_t i) const { return FData.Columns.at(static_cast<std::size_t>(i)).Info; }
    std::vector<std::string> FieldNames() const;
    // Every record as read, without the edits of a record being edited.
    const TTableData& Records() const noexcept { return FData; }
    // Any record's value as a grid shows it, without moving the cursor (row is 0-based); the
    // record being edited or entered shows its edited texts.
    std::string DisplayText(std::int32_t row, std::int32_t field) const;
    // Reads the table again, keeping the current record number where the table still has it.
    void Refresh();
    // -1 when no field has the name (letter case ignored).
    std::int32_t FindField(std::string_view name) const noexcept;
    bool IsNull(std::int32_t field) const;
    // The raw value of the current record: the number of a numeric, date or Yes/No field.
    double Number(std::int32_t field) const;
    // The text of a text or memo field (a description for binary data), empty for others.
    const std::string& Text(std::int32_t field) const;

    std::int32_t RecordCount() const override { return FActive ? FData.RecordCount : 0; }
    std::int32_t RecNo() const override;
    void First() override;
    void Next() override;
    void Prior();
    void Last();
    bool Eof() const override { return FEof; }
    bool Bof() const noexcept { return FBof; }
    std::int32_t MoveBy(std::int32_t distance) override;
    void DisableControls() override { ++FDisableCount; }
    void EnableControls() override;
    bool ControlsDisabled() const noexcept { return FDisableCount > 0; }
    std::int32_t FieldByName(std::string_view name) const override;
    double AsFloat(std::int32_t field) const override;

    void AddListener(TDataSetListener* listener);
    void RemoveListener(TDataSetListener* listener);

    // Editing. Changes reach the database file when posted: by Post, or by moving to another
    // record, refreshing or computing, which post a modified record first (an unmodified one is
    // simply left). Each write goes through the file's own write path (MdbWriter.h).
    TDataSetState State() const noexcept;
    // False for a view, or when the file or table cannot be written (ReadOnlyReason says why),
    // as far as that is known when the table is opened.
    bool CanModify() const { return FActive && ReadOnlyReason().empty(); }
    // Worked out when first asked, since it reads the whole file and computing never asks.
    const std::string& ReadOnlyReason() const;
    // What the reading of the table found to tell the user although every record was read (a
    // record count its definition does not keep), for the line above the grid; each change
    // brings those of the table as read back.
    const std::vector<std::string>& Warnings() const noexcept { return FData.Warnings; }
    void Edit();
    // A new record is added after the last one; while it is being entered it is the current
    // record and shows as one more row after the stored ones (row RecordCount()).
    void Append();
    void Insert() { Append(); }
    // The value of a field of the record being edited, as text; an empty text is NULL.
    void SetFieldText(std::int32_t field, std::string text);
    bool Modified() const noexcept { return std::find(FEditChanged.begin(), FEditChanged.end(), true) != FEditChanged.end(); }
    // Writes the record being edited. On failure raises EProviderError and stays in editing.
    void Post();
    void Cancel();
    // Deletes the current record from the file (posting or leaving an edit first).
    void Delete();
    // What deleting the current record would do to other records through the table's
    // relationships, one text a table (DeleteEffects in MdbWriter.h).
    std::vector<std::string> DeleteEffects() const;
    // Posts a modified record, leaves an unmodified one; nothing happens when browsing.
    void CheckBrowseMode();
    // The number of rows a grid shows: the records, and the new one while it is entered.
    std::int32_t RowCount() const noexcept { return RecordCount() + (State() == TDataSetState::Insert ? 1 : 0); }

private:
    void ApplyChange(const TRecordChange& change, std::int32_t currentAfter);
    void EndEditing();
    friend class TMdbConnection;
    void CloseQuietly() noexcept;
    void Moved();
    void Notify(void (TDataSetListener::*event)());
    const TColumnData& Column(std::int32_t field) const;

    TMdbConnection& FConnection;
    TStatementLines FSQL;
    bool FActive = false;
    TTableData FData;
    std::int32_t FCurrent = 0;
    bool FEof = true;
    bool FBof = true;
    std::int32_t FDisableCount = 0;
    std::vector<TDataSetListener*> FListeners;
    std::string FTableName;
    bool FView = false;
    mutable std::optional<std::string> FReadOnlyReason;
    TDataSetState FEditState = TDataSetState::Browse;  // when active
    std::vector<std::string> FEditTexts;               // of the record being edited
    std::vector<bool> FEditChanged;
};

// The link between a dataset and the data-aware views bound to it.
class TDataSource : private TDataSetListener {
public:
    explicit TDataSource(TMdbQuery* dataSet = nullptr);
    ~TDataSource() override;
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;

    TMdbQuery* DataSet() const noexcept { return FDataSet; }
    void SetDataSet(TMdbQuery* dataSet);
    void AddLink(TDataSetListener* link);
    void RemoveLink(TDataSetListener* link);

private:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled() override;
    void StateChanged() override;
    void Broadcast(void (TDataSetListener::*event)());

    TMdbQuery* FDataSet = nullptr;
    std::vector<TDataSetListener*> FLinks;
};

// Parses "SELECT * FROM <name>" and returns the name; raises EProviderError otherwise.
std::string ParseSelectAll(std::string_view statement);

// Letter case ignored for ASCII letters, other characters by code point (the listing's order).
bool NameLess(std::string_view a, std::string_view b) noexcept;

}  // namespace quorlin
