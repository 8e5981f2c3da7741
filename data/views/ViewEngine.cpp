#include "ViewEngine.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>

#include "../../statistics/DataSet.h"
#include "../../statistics/Statistics01.h"
#include "../../support/Calendar.h"
#include "../../support/Messages.h"
#include "../ProviderError.h"

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
TStmt Prepare(sqlite3* db, const std::string& sql, const std::string& view)
{
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail) != SQLITE_OK)
        Fail(view, sqlite3_errmsg(db));
    TStmt statement(raw);
    for (; tail && *tail; ++tail)
        if (!std::isspace(static_cast<unsigned char>(*tail)))
            Fail(view, Format(Tr("the saved query '%1$s' holds more than one statement"), view));
    if (!statement) Fail(view, Format(Tr("the saved query '%1$s' holds no statement"), view));
    return statement;
}

// What SQL built from a file may do: read the tables and views this program made, call
// functions, and (when asked to) create one view. Our own statements, which create and fill
// the tables from quoted names, are trusted.
struct TGuard {
    bool Trusted = true;
    bool CreatingView = false;
};

bool IsSchemaTable(const char* name)
{
    return name && (std::strcmp(name, "sqlite_master") == 0 || std::strcmp(name, "sqlite_schema") == 0 ||
                    std::strcmp(name, "sqlite_temp_master") == 0);
}

int Authorize(void* data, int action, const char* first, const char* second, const char*, const char*)
{
    const TGuard& guard = *static_cast<const TGuard*>(data);
    if (guard.Trusted) return SQLITE_OK;
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ: return SQLITE_OK;
    case SQLITE_FUNCTION: return second && sqlite3_stricmp(second, "load_extension") == 0 ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_CREATE_VIEW: return guard.CreatingView ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_INSERT:  // the schema's row of the view being created, and its completion
    case SQLITE_UPDATE: return guard.CreatingView && IsSchemaTable(first) ? SQLITE_OK : SQLITE_DENY;
    default: return SQLITE_DENY;  // writing, pragmas, attaching, transactions, recursion
    }
}

// Runs one statement built from a file under the guard, which is trusted again afterwards.
void RunGuarded(sqlite3* db, TGuard& guard, const std::string& sql, const std::string& view)
{
    guard.Trusted = false;
    guard.CreatingView = true;
    const TStmt statement = Prepare(db, sql, view);
    const int rc = sqlite3_step(statement.get());
    guard = TGuard{};
    if (rc != SQLITE_DONE) Fail(view, sqlite3_errmsg(db));
}

// An in-memory database that cannot reach any file: no attached databases, no extensions,
// defensive mode (no writes to its own schema by SQL).
TDb OpenEngine(TGuard& guard, const std::string& view)
{
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        Fail(view, Tr("no SQL engine"));
    }
    TDb db(raw);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_limit(raw, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_set_authorizer(raw, Authorize, &guard);
    return db;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& view)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message ? message : Tr("SQL error");
        sqlite3_free(message);
        Fail(view, why);
    }
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
    TViewBuilder(TViewSource& file, sqlite3* db, TGuard& guard, const TProgress& progress)
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
                RunGuarded(FDb, FGuard, "CREATE VIEW " + Quote(input) + " AS " + Translate(inner), inner.Name);
            } else if (object->Kind == TObjectKind::Table) {
                Load(object->Name, input, query.Name);
            } else {
                Fail(query.Name, Format(Tr("'%1$s' is not a table or a select query"), input));
            }
            FProvided.insert(input);
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
                Exec(FDb, create + ")", view);
                insert = Prepare(FDb, "INSERT INTO " + Quote(as) + " VALUES (" + values + ")", view);
            },
            [&](const std::vector<TCellValue>& row) {
                sqlite3_stmt* s = insert.get();
                sqlite3_reset(s);
                for (std::size_t i = 0; i < row.size(); ++i) {
                    const int k = static_cast<int>(i) + 1;
                    if (row[i].Kind == TCellKind::Null)
                        sqlite3_bind_null(s, k);
                    else if (row[i].Kind == TCellKind::Text)
                        sqlite3_bind_text(s, k, row[i].Text.c_str(), static_cast<int>(row[i].Text.size()),
                                          SQLITE_TRANSIENT);
                    else
                        sqlite3_bind_double(s, k, row[i].Number);
                }
                if (sqlite3_step(s) != SQLITE_DONE) Fail(view, sqlite3_errmsg(FDb));
            },
            FProgress);
    }

    TViewSource& FFile;
    sqlite3* FDb;
    TGuard& FGuard;
    const TProgress& FProgress;
    std::vector<TCatalogObject> FObjects;
    std::set<std::string> FProvided;
};

}  // namespace

void StreamViewRecords(TViewSource& file, const std::string& viewName, TWireWriter& w, const TProgress& progress)
{
    const TQueryDefinition query = file.QueryDefinition(viewName);
    if (!query.IsSelectWithoutParameters()) Fail(viewName, Tr("it is not a select query without parameters"));

    TGuard guard;
    TDb db = OpenEngine(guard, viewName);
    RegisterAccessFunctions(db.get());
    Exec(db.get(), "BEGIN", viewName);
    TViewBuilder builder(file, db.get(), guard, progress);
    builder.Provide(query, 0);
    Exec(db.get(), "COMMIT", viewName);

    guard.Trusted = false;  // from here on, only the query itself runs
    TStmt select = Prepare(db.get(), TViewBuilder::Translate(query), viewName);
    const int count = sqlite3_column_count(select.get());
    std::vector<TColumnInfo> columns(static_cast<std::size_t>(count));
    std::vector<bool> typed(columns.size());
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(select.get(), i);
        columns[static_cast<std::size_t>(i)].Name = name ? name : "";
        const char* declared = sqlite3_column_decltype(select.get(), i);
        const std::uint8_t type = declared ? AccessTypeOfDeclared(declared) : 0;
        typed[static_cast<std::size_t>(i)] = type != 0;
        columns[static_cast<std::size_t>(i)].Type = type ? static_cast<TColumnType>(type) : TColumnType::Double;
    }

    // Two output columns of one name (col1 of two tables) are told apart as Access does, by
    // their tables: Table1.col1, Table2.col1.
    for (int i = 0; i < count; ++i) {
        int same = 0;
        for (const auto& c : columns) same += SameFieldName(c.Name, columns[static_cast<std::size_t>(i)].Name) ? 1 : 0;
        if (same < 2) continue;
        const std::string name = columns[static_cast<std::size_t>(i)].Name;
        for (int j = i; j < count; ++j) {
            auto& c = columns[static_cast<std::size_t>(j)];
            if (!SameFieldName(c.Name, name)) continue;
            const char* table = sqlite3_column_table_name(select.get(), j);
            if (table) c.Name = std::string(table) + "." + c.Name;
        }
    }

    // A computed column is a number unless its values are text; its type is known only once
    // the rows are there, so they are gathered before they are sent.
    std::vector<std::vector<TCellValue>> rows;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        std::vector<TCellValue> row(columns.size());
        for (int i = 0; i < count; ++i) {
            TCellValue& v = row[static_cast<std::size_t>(i)];
            switch (sqlite3_column_type(select.get(), i)) {
            case SQLITE_NULL: v.Kind = TCellKind::Null; break;
            case SQLITE_INTEGER:
            case SQLITE_FLOAT:
                v.Kind = TCellKind::Number;
                v.Number = sqlite3_column_double(select.get(), i);
                if (!typed[static_cast<std::size_t>(i)] && !std::isfinite(v.Number)) Fail(viewName, Tr("a value is not a number"));
                break;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), i));
                v.Kind = TCellKind::Text;
                v.Text = text ? text : "";
                if (!typed[static_cast<std::size_t>(i)]) columns[static_cast<std::size_t>(i)].Type = TColumnType::Text;
            }
            }
        }
        rows.push_back(std::move(row));
        if (rows.size() % 4096 == 0 && progress) progress();
    }
    if (rc != SQLITE_DONE) Fail(viewName, sqlite3_errmsg(db.get()));

    WriteColumns(w, columns, static_cast<std::int32_t>(rows.size()));
    for (const auto& row : rows) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Record));
        for (std::size_t i = 0; i < row.size(); ++i) {
            // Numbers in a column that turned out textual are shown as text, as Access would.
            const TCellValue& v = row[i];
            if (v.Kind == TCellKind::Number && columns[i].Type == TColumnType::Text && !typed[i]) {
                WriteCell(w, TCellKind::Text, 0.0, FormatGeneral(v.Number));
            } else {
                WriteCell(w, v.Kind, v.Number, v.Text);
            }
        }
    }
    w.U8(static_cast<std::uint8_t>(TWireMark::End));
}

}  // namespace quorlin
