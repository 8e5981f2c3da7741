#include "data/views/ViewEngine.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <memory>
#include <set>

#include "values/FieldName.h"
#include "support/Calendar.h"
#include "support/Messages.h"
#include "data/records/ProviderError.h"
#include "data/records/RecordLimit.h"
#include "data/views/EngineGuard.h"

namespace quorlin {

namespace {

struct TDbClose {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
};
struct TStmtFinalize {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
};
using TDb = std::unique_ptr<sqlite3, TDbClose>;
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtFinalize>;

[[noreturn]] void Fail(const std::string& view, const std::string& why)
{
    throw EProviderError(Format(Tr("The query '%1$s' cannot be opened: %2$s"), view, why));
}

// One statement, and nothing after it: text built from a file could otherwise smuggle in a
// second statement behind a ";".
TStmt Prepare(sqlite3* db, const std::string& sql, const TEngineGuard& guard, const std::string& view)
{
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
    if (rc == SQLITE_TOOBIG)
        throw EProviderError(TooLargeToOpen(
            true, view, Format(Tr("its statement is longer than %1$s, the most a statement may hold in a view"),
                               MemoryText(ViewStatementBytes))));
    if (rc != SQLITE_OK) FailStatement(db, rc, guard, view);
    TStmt statement(raw);
    for (; tail && *tail; ++tail)
        if (!std::isspace(static_cast<unsigned char>(*tail)))
            Fail(view, Format(Tr("the saved query '%1$s' holds more than one statement"), view));
    if (!statement) Fail(view, Format(Tr("the saved query '%1$s' holds no statement"), view));
    return statement;
}

// Creates the view of a nested query from its translated text, under the guard, which trusts
// our own statements again afterwards.
void CreateGuarded(sqlite3* db, TEngineGuard& guard, const std::string& sql, const std::string& view)
{
    guard.Distrust(true);
    const TStmt statement = Prepare(db, sql, guard, view);
    const int rc = sqlite3_step(statement.get());
    guard.Trust();
    if (rc != SQLITE_DONE) FailStatement(db, rc, guard, view);
}

// An in-memory database that cannot reach any file: no attached databases, no extensions,
// defensive mode (no writes to its own schema by SQL).
TDb OpenEngine(const std::string& view)
{
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        Fail(view, Tr("no SQL engine"));
    }
    return TDb(raw);
}

void Exec(sqlite3* db, const std::string& sql, const TEngineGuard& guard, const std::string& view)
{
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) FailStatement(db, rc, guard, view);
}

std::string Quote(const std::string& name) { return "\"" + [&] {
    std::string s;
    for (char c : name) {
        if (c == '"') s.push_back('"');
        s.push_back(c);
    }
    return s;
}() + "\""; }

// --- The Access functions the translated expressions call --------------------------------

bool IsNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

void Nz(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (!IsNull(argv[0]))
        sqlite3_result_value(ctx, argv[0]);
    else if (argc > 1)
        sqlite3_result_value(ctx, argv[1]);
    else
        sqlite3_result_int(ctx, 0);
}

void Mid(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (IsNull(argv[0])) return sqlite3_result_null(ctx);
    // Characters, not bytes: SQLite's substr counts characters of UTF-8 text.
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    std::string s(text ? text : "");
    const long start = sqlite3_value_int64(argv[1]);
    if (start < 1) return sqlite3_result_error(ctx, Tr("Mid needs a start of at least 1"), -1);
    std::size_t i = 0;
    long position = 1;
    auto next = [&](std::size_t at) {
        ++at;
        while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) ++at;
        return at;
    };
    while (i < s.size() && position < start) i = next(i), ++position;
    std::size_t end = s.size();
    if (argc > 2) {
        long count = sqlite3_value_int64(argv[2]);
        end = i;
        while (end < s.size() && count-- > 0) end = next(end);
    }
    const std::string part = s.substr(i, end - i);
    sqlite3_result_text(ctx, part.c_str(), static_cast<int>(part.size()), SQLITE_TRANSIENT);
}

void Len(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (IsNull(argv[0])) return sqlite3_result_null(ctx);
    const auto* text = reinterpret_cast<const unsigned char*>(sqlite3_value_text(argv[0]));
    long n = 0;
    for (; text && *text; ++text)
        if ((*text & 0xC0) != 0x80) ++n;
    sqlite3_result_int64(ctx, n);
}

template <double (*F)(double)>
void Numeric(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (IsNull(argv[0])) return sqlite3_result_null(ctx);
    sqlite3_result_double(ctx, F(sqlite3_value_double(argv[0])));
}

double IntPart(double v) { return std::floor(v); }
double SquareRoot(double v) { return v < 0 ? NAN : std::sqrt(v); }

void Sqr(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (!IsNull(argv[0]) && sqlite3_value_double(argv[0]) < 0)
        return sqlite3_result_error(ctx, Tr("Invalid procedure call: Sqr of a negative number"), -1);
    Numeric<SquareRoot>(ctx, argc, argv);
}

// Year, Month and Day of a day number.
template <int Part>
void DatePart(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (IsNull(argv[0])) return sqlite3_result_null(ctx);
    const TCivilDate date = CivilFromDayNumber(static_cast<std::int64_t>(std::trunc(sqlite3_value_double(argv[0]))));
    const int part = Part == 0 ? date.Year : static_cast<int>(Part == 1 ? date.Month : date.Day);
    sqlite3_result_int64(ctx, part);
}

}  // namespace

void RegisterAccessFunctions(sqlite3* db)
{
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function(db, "Nz", 1, flags, nullptr, Nz, nullptr, nullptr);
    sqlite3_create_function(db, "Nz", 2, flags, nullptr, Nz, nullptr, nullptr);
    sqlite3_create_function(db, "Mid", 2, flags, nullptr, Mid, nullptr, nullptr);
    sqlite3_create_function(db, "Mid", 3, flags, nullptr, Mid, nullptr, nullptr);
    sqlite3_create_function(db, "Len", 1, flags, nullptr, Len, nullptr, nullptr);
    sqlite3_create_function(db, "Int", 1, flags, nullptr, Numeric<IntPart>, nullptr, nullptr);
    sqlite3_create_function(db, "Sqr", 1, flags, nullptr, Sqr, nullptr, nullptr);
    sqlite3_create_function(db, "Year", 1, flags, nullptr, DatePart<0>, nullptr, nullptr);
    sqlite3_create_function(db, "Month", 1, flags, nullptr, DatePart<1>, nullptr, nullptr);
    sqlite3_create_function(db, "Day", 1, flags, nullptr, DatePart<2>, nullptr, nullptr);
    // SQLite has IIf, Abs, Sum, Avg, Count, Min and Max of its own.
}

namespace {

// --- Loading the inputs --------------------------------------------------------------------

class TViewBuilder {
public:
    TViewBuilder(TViewSource& file, sqlite3* db, TEngineGuard& guard, const TProgress& progress)
        : FFile(file), FDb(db), FGuard(guard), FProgress(progress)
    {
        for (const auto& o : FFile.Catalog()) FObjects.push_back(o);
    }

    // Makes every input of the query available under its name: tables loaded, views defined.
    void Provide(const TQueryDefinition& query, int depth)
    {
        if (depth > 16) Fail(query.Name, Tr("queries nest too deeply"));
        for (const auto& input : query.InputNames()) {
            if (FProvided.count(input)) continue;
            const TCatalogObject* object = Find(input);
            if (!object)
                Fail(query.Name, Format(Tr("the input table or query '%1$s' does not exist"), input));
            if (object->Kind == TObjectKind::View) {
                const TQueryDefinition inner = FFile.QueryDefinition(object->Name);
                Provide(inner, depth + 1);
                CreateGuarded(FDb, FGuard, "CREATE VIEW " + Quote(input) + " AS " + Translate(inner), inner.Name);
            } else if (object->Kind == TObjectKind::Table) {
                Load(object->Name, input, query.Name);
            } else {
                Fail(query.Name, Format(Tr("'%1$s' is not a table or a select query"), input));
            }
            FProvided.insert(input);
            FGuard.AllowReading(input);
        }
    }

    static std::string Translate(const TQueryDefinition& query)
    {
        try {
            return TranslateQuery(query);
        } catch (const EQueryTranslation& e) {
            Fail(query.Name, e.what());
        }
    }

private:
    const TCatalogObject* Find(const std::string& name) const
    {
        for (const auto& o : FObjects)
            if (o.Name == name) return &o;
        return nullptr;
    }

    void Load(const std::string& table, const std::string& as, const std::string& view)
    {
        std::vector<TColumnInfo> columns;
        TStmt insert;
        FFile.ReadTable(
            table,
            [&](const std::vector<TColumnInfo>& info, std::int32_t) {
                columns = info;
                std::string create = "CREATE TABLE " + Quote(as) + " (", values;
                for (std::size_t i = 0; i < info.size(); ++i) {
                    create += (i ? ", " : "") + Quote(info[i].Name) + " " +
                              DeclaredType(static_cast<std::uint8_t>(info[i].Type));
                    values += i ? ", ?" : "?";
                }
                Exec(FDb, create + ")", FGuard, view);
                insert = Prepare(FDb, "INSERT INTO " + Quote(as) + " VALUES (" + values + ")", FGuard, view);
            },
            [&](const std::vector<TCellValue>& row) {
                sqlite3_stmt* s = insert.get();
                sqlite3_reset(s);
                for (std::size_t i = 0; i < row.size(); ++i) Bind(s, static_cast<int>(i) + 1, row[i], table, columns.at(i), view);
                const int rc = sqlite3_step(s);
                if (rc == SQLITE_TOOBIG)
                    throw EProviderError(TooLargeToOpen(
                        true, view,
                        Format(Tr("a record of the table '%1$s' holds more than %2$s, the most one record may hold in a view"),
                               table, MemoryText(ViewValueBytes))));
                if (rc != SQLITE_DONE) FailStatement(FDb, rc, FGuard, view);
            },
            FProgress);
    }

    // A value longer than a view's values may be stops the view, naming where it is.
    static void Bind(sqlite3_stmt* s, int k, const TCellValue& value, const std::string& table, const TColumnInfo& column,
                     const std::string& view)
    {
        if (value.Kind == TCellKind::Null) {
            sqlite3_bind_null(s, k);
        } else if (value.Kind == TCellKind::Number) {
            sqlite3_bind_double(s, k, value.Number);
        } else if (value.Text.size() > static_cast<std::size_t>(ViewValueBytes)) {
            throw EProviderError(TooLargeToOpen(
                true, view,
                Format(Tr("the field '%1$s' of the table '%2$s' holds a value of %3$s, more than the %4$s one value may "
                          "hold in a view"),
                       column.Name, table, MemoryText(value.Text.size()), MemoryText(ViewValueBytes))));
        } else {
            sqlite3_bind_text(s, k, value.Text.c_str(), static_cast<int>(value.Text.size()), SQLITE_TRANSIENT);
        }
    }

    TViewSource& FFile;
    sqlite3* FDb;
    TEngineGuard& FGuard;
    const TProgress& FProgress;
    std::vector<TCatalogObject> FObjects;
    std::set<std::string> FProvided;
};

// --- The view's columns and records ------------------------------------------------------------

struct TViewColumns {
    std::vector<TColumnInfo> Info;
    std::vector<bool> Typed;    // a column of a table; otherwise computed, and a number until a text comes
    std::vector<bool> Textual;  // a computed column that has had a text
};

TViewColumns DescribeColumns(sqlite3_stmt* select)
{
    const int count = sqlite3_column_count(select);
    TViewColumns columns;
    columns.Info.resize(static_cast<std::size_t>(count));
    columns.Typed.resize(columns.Info.size());
    columns.Textual.resize(columns.Info.size());
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(select, i);
        columns.Info[static_cast<std::size_t>(i)].Name = name ? name : "";
        const char* declared = sqlite3_column_decltype(select, i);
        const std::uint8_t type = declared ? AccessTypeOfDeclared(declared) : 0;
        columns.Typed[static_cast<std::size_t>(i)] = type != 0;
        columns.Info[static_cast<std::size_t>(i)].Type = type ? static_cast<TColumnType>(type) : TColumnType::Double;
    }
    // Two output columns of one name (col1 of two tables) are told apart as Access does, by
    // their tables: Table1.col1, Table2.col1.
    auto& info = columns.Info;
    for (int i = 0; i < count; ++i) {
        int same = 0;
        for (const auto& c : info) same += SameFieldName(c.Name, info[static_cast<std::size_t>(i)].Name) ? 1 : 0;
        if (same < 2) continue;
        const std::string name = info[static_cast<std::size_t>(i)].Name;
        for (int j = i; j < count; ++j) {
            auto& c = info[static_cast<std::size_t>(j)];
            if (!SameFieldName(c.Name, name)) continue;
            const char* table = sqlite3_column_table_name(select, j);
            if (table) c.Name = std::string(table) + "." + c.Name;
        }
    }
    return columns;
}

// Sends the current row as a record. A computed column is a number unless its values are
// text, which is known only once every row is sent: numbers go as numbers, and the columns that
// turned out textual are named after the last record (WriteRetyped).
void WriteRow(sqlite3_stmt* select, TViewColumns& columns, TWireWriter& w, const std::string& view)
{
    const std::size_t count = columns.Info.size();
    for (std::size_t i = 0; i < count; ++i) {
        const int k = static_cast<int>(i);
        const int type = sqlite3_column_type(select, k);
        if ((type == SQLITE_INTEGER || type == SQLITE_FLOAT) && !columns.Typed[i] &&
            !std::isfinite(sqlite3_column_double(select, k)))
            Fail(view, Tr("a value is not a number"));
    }
    w.U8(static_cast<std::uint8_t>(TWireMark::Record));
    for (std::size_t i = 0; i < count; ++i) {
        const int k = static_cast<int>(i);
        switch (sqlite3_column_type(select, k)) {
        case SQLITE_NULL: WriteCell(w, TCellKind::Null, 0.0, {}); break;
        case SQLITE_INTEGER:
        case SQLITE_FLOAT: WriteCell(w, TCellKind::Number, sqlite3_column_double(select, k), {}); break;
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, k));
            WriteCell(w, TCellKind::Text, 0.0, text ? std::string_view(text) : std::string_view());
            if (!columns.Typed[i]) columns.Textual[i] = true;
        }
        }
    }
}

std::vector<std::int32_t> TextualColumns(const TViewColumns& columns)
{
    std::vector<std::int32_t> textual;
    for (std::size_t i = 0; i < columns.Textual.size(); ++i)
        if (columns.Textual[i]) textual.push_back(static_cast<std::int32_t>(i));
    return textual;
}

}  // namespace

void StreamViewRecords(TViewSource& file, const std::string& viewName, TWireWriter& w, const TProgress& progress)
{
    const TQueryDefinition query = file.QueryDefinition(viewName);
    if (!query.IsSelectWithoutParameters()) Fail(viewName, Tr("it is not a select query without parameters"));

    TDb db = OpenEngine(viewName);
    TEngineGuard guard(db.get());
    RegisterAccessFunctions(db.get());
    Exec(db.get(), "BEGIN", guard, viewName);
    TViewBuilder builder(file, db.get(), guard, progress);
    builder.Provide(query, 0);
    Exec(db.get(), "COMMIT", guard, viewName);

    guard.Distrust(false);  // from here on, only the query itself runs
    TStmt select = Prepare(db.get(), TViewBuilder::Translate(query), guard, viewName);
    TViewColumns columns = DescribeColumns(select.get());
    WriteColumns(w, columns.Info, 0);

    // Records go as they come: neither process holds more of a view than the program keeps.
    guard.StartClock([&] {
        if (progress) progress();
    });
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) WriteRow(select.get(), columns, w, viewName);
    if (rc != SQLITE_DONE) FailStatement(db.get(), rc, guard, viewName);
    const std::vector<std::int32_t> textual = TextualColumns(columns);
    if (!textual.empty()) WriteRetyped(w, textual);
    w.U8(static_cast<std::uint8_t>(TWireMark::End));
}

}  // namespace quorlin
