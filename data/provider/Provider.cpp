#include "data/provider/Provider.h"
#include "data/editing/MdbWriter.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "support/AsciiText.h"
#include "support/Messages.h"
#include "data/reading/Isolation.h"

namespace quorlin {

// ---------------------------------------------------------------------------------------------
// Connection strings

namespace {

[[noreturn]] void fail(const std::string& why) { throw EProviderError(why); }

}  // namespace

TConnectionString TConnectionString::Parse(std::string_view text)
{
    TConnectionString result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) {
            if (!Trim(text.substr(pos)).empty())
                throw EProviderError(Tr("The connection string is not well formed"));
            break;
        }
        const std::string_view key = Trim(text.substr(pos, eq - pos));
        std::size_t i = eq + 1;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        std::string value;
        if (i < text.size() && text[i] == '"') {
            ++i;
            for (;;) {
                if (i >= text.size())
                    throw EProviderError(Tr("The connection string is not well formed"));
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        value.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value.push_back(text[i++]);
            }
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
            if (i < text.size() && text[i] != ';')
                throw EProviderError(Tr("The connection string is not well formed"));
        } else {
            const std::size_t end = std::min(text.find(';', i), text.size());
            value = std::string(Trim(text.substr(i, end - i)));
            i = end;
        }
        pos = i + 1;
        if (EqualIgnoringCase(key, "provider"))
            result.Provider = value;
        else if (EqualIgnoringCase(key, "data source"))
            result.DataSource = value;
    }
    return result;
}

std::string TConnectionString::Build(const std::string& provider, const std::string& path, bool persistSecurityInfo)
{
    std::string source = path;
    if (path.find_first_of(";\"") != std::string::npos) {
        source = "\"";
        for (char c : path) {
            if (c == '"') source.push_back('"');
            source.push_back(c);
        }
        source += "\"";
    }
    return "Provider=" + provider + ";Data Source=" + source +
           ";Persist Security Info=" + (persistSecurityInfo ? "True" : "False");
}

// ---------------------------------------------------------------------------------------------
// Names and statements

bool NameLess(std::string_view a, std::string_view b) noexcept
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
        const auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

std::string ParseSelectAll(std::string_view statement)
{
    std::string_view s = statement;
    auto skipBlanks = [&] {
        while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    };
    auto keyword = [&](std::string_view word) {
        skipBlanks();
        if (!EqualIgnoringCase(s.substr(0, word.size()), word)) return false;
        if (s.size() > word.size()) {
            const char next = s[word.size()];
            if (std::isalnum(static_cast<unsigned char>(next)) || next == '_') return false;
        }
        s.remove_prefix(word.size());
        return true;
    };

    if (!keyword("SELECT"))
        fail(Tr("Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'"));
    skipBlanks();
    if (s.empty() || s.front() != '*') fail(Tr("Only SELECT * FROM a table is supported"));
    s.remove_prefix(1);
    if (!keyword("FROM")) fail(Tr("Syntax error in query: expected FROM"));
    skipBlanks();

    std::string name;
    if (!s.empty() && s.front() == '[') {
        s.remove_prefix(1);
        for (;;) {
            if (s.empty()) fail(Tr("Syntax error in FROM clause: the bracketed name is not closed"));
            if (s.front() == ']') {
                if (s.size() > 1 && s[1] == ']') {
                    name.push_back(']');
                    s.remove_prefix(2);
                    continue;
                }
                s.remove_prefix(1);
                break;
            }
            name.push_back(s.front());
            s.remove_prefix(1);
        }
        if (name.empty()) fail(Tr("Syntax error in FROM clause: empty table name"));
    } else {
        while (!s.empty()) {
            const auto c = static_cast<unsigned char>(s.front());
            if (!(std::isalnum(c) || c == '_' || c >= 0x80)) break;
            name.push_back(s.front());
            s.remove_prefix(1);
        }
        if (name.empty()) fail(Tr("Syntax error in FROM clause"));
    }
    skipBlanks();
    if (!s.empty() && s.front() == ';') {
        s.remove_prefix(1);
        skipBlanks();
    }
    if (!s.empty()) fail(Tr("Syntax error in FROM clause"));
    return name;
}

std::string TStatementLines::Text() const
{
    std::string text;
    for (const auto& line : FLines) {
        if (!text.empty()) text += "\n";
        text += line;
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// TMdbConnection

TMdbConnection::~TMdbConnection()
{
    for (TMdbQuery* q : FQueries) q->CloseQuietly();
}

void TMdbConnection::Open()
{
    if (FConnected) return;
    const TConnectionString parts = TConnectionString::Parse(FConnectionString);
    if (!EqualIgnoringCase(parts.Provider, "microsoft.jet.oledb.4.0") &&
        !EqualIgnoringCase(parts.Provider, "microsoft.ace.oledb.12.0"))
        throw EProviderError(Tr("Provider cannot be found. It may not be properly installed."));
    const std::string& path = parts.DataSource;
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec))
        throw EProviderError(Format(Tr("Could not find file '%1$s'."), path));

    FCatalog = ReadCatalogIsolated(path);
    FFileName = path;
    FConnected = true;
}

void TMdbConnection::Close()
{
    for (TMdbQuery* q : FQueries) q->Close();
    FConnected = false;
    FCatalog.clear();
    FFileName.clear();
}

void TMdbConnection::GetTableNames(std::vector<std::string>& list, bool systemTables) const
{
    list.clear();
    if (!FConnected) return;
    auto group = [&](TObjectKind kind) {
        std::vector<std::string> names;
        for (const auto& o : FCatalog)
            if (o.Kind == kind) names.push_back(o.Name);
        std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return NameLess(a, b); });
        list.insert(list.end(), names.begin(), names.end());
    };
    if (systemTables) group(TObjectKind::SystemTable);
    group(TObjectKind::Table);
    group(TObjectKind::View);
}

const TCatalogObject* TMdbConnection::FindObject(std::string_view name) const noexcept
{
    for (const auto& o : FCatalog)
        if (o.Name == name) return &o;
    for (const auto& o : FCatalog)
        if (SameFieldName(o.Name, name)) return &o;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// TMdbQuery

TMdbQuery::TMdbQuery(TMdbConnection& connection) : FConnection(connection)
{
    FConnection.FQueries.push_back(this);
}

TMdbQuery::~TMdbQuery()
{
    auto& qs = FConnection.FQueries;
    qs.erase(std::remove(qs.begin(), qs.end(), this), qs.end());
}

void TMdbQuery::Open()
{
    if (FActive) return;
    if (!FConnection.Connected()) throw EProviderError(Tr("Operation is not allowed when the object is closed."));
    const std::string name = ParseSelectAll(FSQL.Text());
    const TCatalogObject* object = FConnection.FindObject(name);
    if (!object)
        throw EProviderError(Format(Tr("The database engine cannot find the input table or query '%1$s'. Make sure it "
                                       "exists and that its name is spelled correctly."),
                                    name));
    if (object->Kind == TObjectKind::SystemTable)
        throw EProviderError(Format(Tr("Records cannot be read; no read permission on '%1$s'."), object->Name));

    const std::string path = FConnection.FileName();
    const std::string tableName = object->Name;
    const bool view = object->Kind == TObjectKind::View;
    TTableData data = ReadRecordsIsolated(path, tableName, view);
    FData = std::move(data);
    FTableName = tableName;
    FView = view;
    FReadOnlyReason.reset();
    FEditState = TDataSetState::Browse;
    FActive = true;
    FCurrent = 0;
    FBof = true;
    FEof = FData.RecordCount == 0;
    Notify(&TDataSetListener::ActiveChanged);
}

void TMdbQuery::Close()
{
    if (!FActive) return;
    // Closing leaves an unposted edit, as closing a table does.
    CloseQuietly();
    Notify(&TDataSetListener::ActiveChanged);
}

void TMdbQuery::CloseQuietly() noexcept
{
    FActive = false;
    FReadOnlyReason.reset();
    FEditState = TDataSetState::Browse;
    FEditTexts.clear();
    FEditChanged.clear();
    FData = TTableData();
    FCurrent = 0;
    FEof = FBof = true;
}

std::vector<std::string> TMdbQuery::FieldNames() const
{
    std::vector<std::string> names;
    for (const auto& c : FData.Columns) names.push_back(c.Info.Name);
    return names;
}

std::string TMdbQuery::DisplayText(std::int32_t row, std::int32_t field) const
{
    if (!FActive || field < 0 || field >= FieldCount()) return {};
    const bool editedRow = (FEditState == TDataSetState::Edit && row == FCurrent) ||
                           (FEditState == TDataSetState::Insert && row == FData.RecordCount);
    if (editedRow) return FEditTexts[static_cast<std::size_t>(field)];
    if (row < 0 || row >= FData.RecordCount) return {};
    return FormatCell(FData.Columns[static_cast<std::size_t>(field)], static_cast<std::size_t>(row));
}

void TMdbQuery::Refresh()
{
    if (!FActive) return;
    CheckBrowseMode();
    const std::int32_t recNo = RecNo();
    TTableData previous = std::move(FData);
    FActive = false;
    try {
        ++FDisableCount;  // one notice at the end, not one per step
        Open();
        --FDisableCount;
    } catch (...) {
        --FDisableCount;
        FData = std::move(previous);
        FActive = true;
        throw;
    }
    FCurrent = std::clamp(recNo - 1, 0, std::max(0, FData.RecordCount - 1));
    FBof = FCurrent == 0;
    FEof = FData.RecordCount == 0;
    Notify(&TDataSetListener::DataSetChanged);
}

std::int32_t TMdbQuery::FindField(std::string_view name) const noexcept
{
    for (std::size_t i = 0; i < FData.Columns.size(); ++i)
        if (SameFieldName(FData.Columns[i].Info.Name, name)) return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t TMdbQuery::FieldByName(std::string_view name) const
{
    const std::int32_t f = FindField(name);
    if (f < 0) throw EDatabaseError(Format(Tr("Field '%1$s' not found"), name));
    return f;
}

const TColumnData& TMdbQuery::Column(std::int32_t field) const
{
    if (!FActive || FCurrent >= FData.RecordCount) throw EDatabaseError(Tr("No current record"));
    if (field < 0 || field >= FieldCount()) throw EDatabaseError(Tr("Field index out of range"));
    return FData.Columns[static_cast<std::size_t>(field)];
}

bool TMdbQuery::IsNull(std::int32_t field) const
{
    return Column(field).Kinds[static_cast<std::size_t>(FCurrent)] == TCellKind::Null;
}

double TMdbQuery::Number(std::int32_t field) const { return Column(field).Numbers[static_cast<std::size_t>(FCurrent)]; }

const std::string& TMdbQuery::Text(std::int32_t field) const
{
    static const std::string empty;
    const TColumnData& c = Column(field);
    const auto k = static_cast<std::size_t>(FCurrent);
    return c.Kinds[k] == TCellKind::Text ? c.Texts[k] : empty;
}

double TMdbQuery::AsFloat(std::int32_t field) const
{
    const TColumnData& c = Column(field);
    const auto k = static_cast<std::size_t>(FCurrent);
    if (!HasNumericReading(c.Info.Type)) throw EConvertError("Cannot access field '" + c.Info.Name + "' as type Float");
    if (c.Info.Type == TColumnType::Text)
        return TextToFloat(c.Kinds[k] == TCellKind::Text ? std::string_view(c.Texts[k]) : std::string_view());
    return c.Kinds[k] == TCellKind::Null ? 0.0 : c.Numbers[k];
}

std::int32_t TMdbQuery::RecNo() const { return FActive && FData.RecordCount > 0 ? FCurrent + 1 : 0; }

void TMdbQuery::First()
{
    CheckBrowseMode();
    FCurrent = 0;
    FBof = true;
    FEof = RecordCount() == 0;
    Moved();
}

void TMdbQuery::Last()
{
    CheckBrowseMode();
    FCurrent = std::max(0, RecordCount() - 1);
    FEof = true;
    FBof = RecordCount() == 0;
    Moved();
}

void TMdbQuery::Next() { MoveBy(1); }
void TMdbQuery::Prior() { MoveBy(-1); }

std::int32_t TMdbQuery::MoveBy(std::int32_t distance)
{
    // From a new record the move counts from its row after the stored ones, whether posting
    // makes it the last record or it is left unposted.
    const std::int32_t from = FCurrent;
    const bool fromNewRecord = FActive && FEditState == TDataSetState::Insert;
    if (distance != 0) CheckBrowseMode();
    if (fromNewRecord) FCurrent = from;
    const std::int32_t count = RecordCount();
    if (count == 0) {
        FBof = FEof = true;
        return 0;
    }
    const std::int64_t wanted = std::int64_t{FCurrent} + distance;
    const std::int64_t target = std::clamp<std::int64_t>(wanted, 0, count - 1);
    const auto moved = static_cast<std::int32_t>(target - FCurrent);
    if (distance != 0) {
        FEof = wanted > count - 1;
        FBof = wanted < 0;
    }
    FCurrent = static_cast<std::int32_t>(target);
    if (moved != 0) Moved();
    return moved;
}

const std::string& TMdbQuery::ReadOnlyReason() const
{
    if (!FReadOnlyReason) {
        if (!FActive)
            FReadOnlyReason = Tr("Operation is not allowed when the object is closed.");
        else if (FView)
            FReadOnlyReason =
                Format(Tr("The view '%1$s' cannot be changed: its records are computed from other tables."), FTableName);
        else
            FReadOnlyReason = WriteRefusal(FConnection.FileName(), FTableName);
    }
    return *FReadOnlyReason;
}

TDataSetState TMdbQuery::State() const noexcept { return FActive ? FEditState : TDataSetState::Inactive; }

void TMdbQuery::Edit()
{
    if (!FActive) throw EProviderError(Tr("Operation is not allowed when the object is closed."));
    if (FEditState != TDataSetState::Browse) return;
    if (!CanModify()) throw EProviderError(ReadOnlyReason());
    if (FData.RecordCount == 0) {
        // Editing an empty table begins its first record.
        Append();
        return;
    }
    FEditTexts.clear();
    for (std::int32_t f = 0; f < FieldCount(); ++f) FEditTexts.push_back(DisplayText(FCurrent, f));
    FEditChanged.assign(FEditTexts.size(), false);
    FEditState = TDataSetState::Edit;
    Notify(&TDataSetListener::StateChanged);
}

void TMdbQuery::Append()
{
    if (!FActive) throw EProviderError(Tr("Operation is not allowed when the object is closed."));
    CheckBrowseMode();
    if (!CanModify()) throw EProviderError(ReadOnlyReason());
    FEditTexts.assign(FData.Columns.size(), std::string());
    FEditChanged.assign(FEditTexts.size(), false);
    FEditState = TDataSetState::Insert;
    FCurrent = FData.RecordCount;  // the new row, after the stored ones
    FEof = true;
    Notify(&TDataSetListener::StateChanged);
}

void TMdbQuery::SetFieldText(std::int32_t field, std::string text)
{
    if (field < 0 || field >= FieldCount()) throw EDatabaseError(Tr("Field index out of range"));
    // The same text again changes nothing, and so does not begin an edit.
    if (FEditState == TDataSetState::Browse && text == DisplayText(FCurrent, field)) return;
    if (FEditState == TDataSetState::Browse) Edit();
    const auto f = static_cast<std::size_t>(field);
    if (FEditTexts[f] == text) return;
    FEditTexts[f] = std::move(text);
    FEditChanged[f] = true;
    Notify(&TDataSetListener::DataSetChanged);
}

void TMdbQuery::Post()
{
    if (!FActive || FEditState == TDataSetState::Browse) return;
    TRecordChange change;
    change.Kind = FEditState == TDataSetState::Insert ? TRecordChange::TKind::Insert : TRecordChange::TKind::Update;
    change.Record = FCurrent;
    for (std::size_t f = 0; f < FEditTexts.size(); ++f) {
        if (!FEditChanged[f]) continue;
        TFieldText value;
        value.Field = static_cast<std::int32_t>(f);
        if (!FEditTexts[f].empty()) value.Text = FEditTexts[f];
        change.Values.push_back(std::move(value));
    }
    if (change.Kind == TRecordChange::TKind::Update && change.Values.empty()) {
        EndEditing();
        return;
    }
    // An inserted record is read back as the table's last one.
    ApplyChange(change, change.Kind == TRecordChange::TKind::Insert ? FData.RecordCount : FCurrent);
}

void TMdbQuery::Cancel()
{
    if (!FActive || FEditState == TDataSetState::Browse) return;
    if (FEditState == TDataSetState::Insert) {
        FCurrent = std::max(0, FData.RecordCount - 1);
        FEof = FData.RecordCount == 0;
    }
    EndEditing();
}

void TMdbQuery::Delete()
{
    if (!FActive) throw EProviderError(Tr("Operation is not allowed when the object is closed."));
    if (FEditState == TDataSetState::Insert) {
        Cancel();
        return;
    }
    if (FEditState == TDataSetState::Edit) EndEditing();
    if (!CanModify()) throw EProviderError(ReadOnlyReason());
    if (FData.RecordCount == 0) throw EDatabaseError(Tr("No current record"));
    TRecordChange change;
    change.Kind = TRecordChange::TKind::Delete;
    change.Record = FCurrent;
    ApplyChange(change, FCurrent);
}

std::vector<std::string> TMdbQuery::DeleteEffects() const
{
    if (!FActive || FEditState == TDataSetState::Insert || FData.RecordCount == 0 || !CanModify()) return {};
    return quorlin::DeleteEffects(FConnection.FileName(), FTableName, FCurrent);
}

void TMdbQuery::CheckBrowseMode()
{
    if (!FActive || FEditState == TDataSetState::Browse) return;
    if (Modified())
        Post();
    else
        Cancel();
}

void TMdbQuery::ApplyChange(const TRecordChange& change, std::int32_t currentAfter)
{
    // An update or a delete names its record by where the user saw it, so it needs the table
    // as the user saw it; a new record needs nothing of the others, and lands whatever another
    // writer added meanwhile. Either way the records shown spare the writer a reading of the
    // table when the file is still the one they were read from.
    const bool dependsOnRecords = change.Kind != TRecordChange::TKind::Insert;
    TTableData data = ApplyRecordChange(FConnection.FileName(), FTableName, change, &FData,
                                        dependsOnRecords ? TEarlierRecords::MustHold : TEarlierRecords::MaySpare);
    FData = std::move(data);
    FCurrent = std::clamp(currentAfter, 0, std::max(0, FData.RecordCount - 1));
    FBof = FCurrent == 0;
    FEof = FData.RecordCount == 0;
    const bool editing = FEditState != TDataSetState::Browse;
    FEditState = TDataSetState::Browse;
    FEditTexts.clear();
    FEditChanged.clear();
    if (editing) Notify(&TDataSetListener::StateChanged);
    Notify(&TDataSetListener::DataSetChanged);
}

void TMdbQuery::EndEditing()
{
    FEditState = TDataSetState::Browse;
    FEditTexts.clear();
    FEditChanged.clear();
    Notify(&TDataSetListener::StateChanged);
    Notify(&TDataSetListener::DataSetChanged);
}

void TMdbQuery::EnableControls()
{
    if (FDisableCount == 0) return;
    if (--FDisableCount == 0) Notify(&TDataSetListener::DataSetChanged);
}

void TMdbQuery::Moved()
{
    if (FDisableCount == 0) Notify(&TDataSetListener::DataSetScrolled);
}

void TMdbQuery::Notify(void (TDataSetListener::*event)())
{
    if (FDisableCount > 0 && event != &TDataSetListener::ActiveChanged) return;
    const auto listeners = FListeners;  // a listener may remove itself
    for (TDataSetListener* l : listeners) (l->*event)();
}

void TMdbQuery::AddListener(TDataSetListener* listener)
{
    if (std::find(FListeners.begin(), FListeners.end(), listener) == FListeners.end()) FListeners.push_back(listener);
}

void TMdbQuery::RemoveListener(TDataSetListener* listener)
{
    FListeners.erase(std::remove(FListeners.begin(), FListeners.end(), listener), FListeners.end());
}

// ---------------------------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TMdbQuery* dataSet) { SetDataSet(dataSet); }

TDataSource::~TDataSource()
{
    if (FDataSet) FDataSet->RemoveListener(this);
}

void TDataSource::SetDataSet(TMdbQuery* dataSet)
{
    if (FDataSet == dataSet) return;
    if (FDataSet) FDataSet->RemoveListener(this);
    FDataSet = dataSet;
    if (FDataSet) FDataSet->AddListener(this);
    Broadcast(&TDataSetListener::ActiveChanged);
}

void TDataSource::AddLink(TDataSetListener* link)
{
    if (std::find(FLinks.begin(), FLinks.end(), link) == FLinks.end()) FLinks.push_back(link);
}

void TDataSource::RemoveLink(TDataSetListener* link)
{
    FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), link), FLinks.end());
}

void TDataSource::ActiveChanged() { Broadcast(&TDataSetListener::ActiveChanged); }
void TDataSource::DataSetChanged() { Broadcast(&TDataSetListener::DataSetChanged); }
void TDataSource::DataSetScrolled() { Broadcast(&TDataSetListener::DataSetScrolled); }
void TDataSource::StateChanged() { Broadcast(&TDataSetListener::StateChanged); }

void TDataSource::Broadcast(void (TDataSetListener::*event)())
{
    const auto links = FLinks;
    for (TDataSetListener* l : links) (l->*event)();
}

}  // namespace quorlin
