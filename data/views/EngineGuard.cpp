#include "data/views/EngineGuard.h"

#include <sqlite3.h>

#include <cstdlib>

#include "support/AsciiText.h"
#include "support/EnvironmentSetting.h"
#include "support/Messages.h"
#include "data/records/ProviderError.h"
#include "data/records/RecordLimit.h"

namespace quorlin {

namespace {

// The functions of views: the Access functions the engine provides or SQLite has under the same
// name, the aggregates, and like, which the translation makes of Access's Like operator.
constexpr const char* ViewFunctions[] = {"IIf", "Nz",  "Mid", "Len", "Int", "Sqr",   "Abs", "Year",
                                         "Month", "Day", "Sum", "Avg", "Count", "Min", "Max", "Like"};

bool IsViewFunction(const char* name)
{
    for (const char* f : ViewFunctions)
        if (sqlite3_stricmp(f, name) == 0) return true;
    return false;
}

bool IsSchemaTable(const char* name)
{
    return name && (sqlite3_stricmp(name, "sqlite_master") == 0 || sqlite3_stricmp(name, "sqlite_schema") == 0 ||
                    sqlite3_stricmp(name, "sqlite_temp_master") == 0);
}

// Nothing a translated query needs comes near these; each stops what a hostile one would grow.
void LimitEngine(sqlite3* db)
{
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, ViewValueBytes);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, ViewStatementBytes);
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db, SQLITE_LIMIT_WORKER_THREADS, 0);
    // Union queries are not translated; a subquery in an expression has little use for a union.
    sqlite3_limit(db, SQLITE_LIMIT_COMPOUND_SELECT, 16);
    // Access keeps a WHERE clause to 99 ANDs; deeper trees only cost the parser its stack.
    sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, 250);
    sqlite3_limit(db, SQLITE_LIMIT_FUNCTION_ARG, 8);
    sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 1000);
    sqlite3_limit(db, SQLITE_LIMIT_VDBE_OP, 1000000);
    // A sort keeps its records in the engine's memory, bounded below, rather than in temporary
    // files, which the reading process may not create.
    sqlite3_exec(db, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
}

std::string Quoted(const char* name) { return "'" + EchoedText(name ? name : "") + "'"; }

}  // namespace

int ViewSeconds() { return PositiveSetting("QUORLIN_VIEW_SECONDS", 5); }

// The whole engine, the loaded tables included, takes at most what the view's records may take
// in the program. The bound is the process's; the reading process evaluates one view.
TEngineGuard::TEngineGuard(sqlite3* db)
    : FSoftHeapLimitBefore(sqlite3_soft_heap_limit64(-1)),
      FHeapLimitBefore(sqlite3_hard_heap_limit64(static_cast<sqlite3_int64>(RecordMemoryLimit())))
{
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    LimitEngine(db);
    sqlite3_set_authorizer(db, Authorize, this);
    sqlite3_progress_handler(db, 1000, OnProgress, this);
}

TEngineGuard::~TEngineGuard()
{
    sqlite3_hard_heap_limit64(FHeapLimitBefore);
    sqlite3_soft_heap_limit64(FSoftHeapLimitBefore);
}

void TEngineGuard::Trust() noexcept
{
    FTrusted = true;
    FCreatingView = false;
}

void TEngineGuard::Distrust(bool creatingView) noexcept
{
    FTrusted = false;
    FCreatingView = creatingView;
    FSchemaWritten = false;
    FRefusal.clear();
}

void TEngineGuard::AllowReading(const std::string& name) { FReadable.insert(LowerAscii(name)); }

void TEngineGuard::StartClock(std::function<void()> heartbeat)
{
    FHeartbeat = std::move(heartbeat);
    const auto now = std::chrono::steady_clock::now();
    FDeadline = now + std::chrono::seconds(ViewSeconds());
    FNextBeat = now + std::chrono::seconds(1);
}

bool TEngineGuard::Readable(const char* table) const { return table && FReadable.count(LowerAscii(table)) > 0; }

int TEngineGuard::Refuse(std::string why)
{
    if (FRefusal.empty()) FRefusal = std::move(why);
    return SQLITE_DENY;
}

int TEngineGuard::Authorize(void* self, int action, const char* first, const char* second, const char*, const char*)
{
    return static_cast<TEngineGuard*>(self)->Decide(action, first, second);
}

// SQL from the file selects, reads what this program made and calls the functions of views.
// SQLite itself writes a row of its schema and finds it again by its row id: the view's row
// when one is created (its text is checked when it is used), and the row of a table-valued
// function a query names, before the query's reading of it is refused here by name. The
// statement is a select either way, which cannot write.
int TEngineGuard::Decide(int action, const char* first, const char* second)
{
    if (FTrusted) return SQLITE_OK;
    switch (action) {
    case SQLITE_SELECT: return SQLITE_OK;
    case SQLITE_READ:
        if (Readable(first)) return SQLITE_OK;
        if (FSchemaWritten && IsSchemaTable(first) && second && sqlite3_stricmp(second, "ROWID") == 0) return SQLITE_OK;
        return Refuse(Format(Tr("reads the table %1$s, which saved queries may not read here"), Quoted(first)));
    case SQLITE_FUNCTION:
        if (IsViewFunction(second)) return SQLITE_OK;
        return Refuse(Format(Tr("calls the function %1$s, which saved queries may not use here"), Quoted(second)));
    case SQLITE_PRAGMA: return Refuse(Format(Tr("runs the pragma %1$s, which saved queries may not use"), Quoted(first)));
    case SQLITE_CREATE_VIEW: return FCreatingView ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
        if (!IsSchemaTable(first)) return SQLITE_DENY;
        FSchemaWritten = true;
        return SQLITE_OK;
    default: return SQLITE_DENY;  // writing, attaching, transactions, recursion
    }
}

int TEngineGuard::OnProgress(void* self)
{
    auto& guard = *static_cast<TEngineGuard*>(self);
    if (!guard.FHeartbeat) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now >= guard.FDeadline) {
        guard.FTimedOut = true;
        return 1;
    }
    if (now >= guard.FNextBeat) {
        guard.FNextBeat = now + std::chrono::seconds(1);
        guard.FHeartbeat();
    }
    return 0;
}

void FailStatement(sqlite3* db, int rc, const TEngineGuard& guard, const std::string& view)
{
    // TRANSLATORS: %2$s is what the view does, as "calls the function 'printf', which …".
    if (!guard.Refusal().empty()) throw EProviderError(Format(Tr("The view '%1$s' %2$s"), view, guard.Refusal()));
    if (rc == SQLITE_INTERRUPT && guard.TimedOut())
        throw EProviderError(TooLargeToOpen(
            true, view,
            Format(TrPlural("evaluating it took longer than %1$s second, the most a view may take (QUORLIN_VIEW_SECONDS "
                            "sets the limit)",
                            "evaluating it took longer than %1$s seconds, the most a view may take (QUORLIN_VIEW_SECONDS "
                            "sets the limit)",
                            static_cast<unsigned long>(ViewSeconds())),
                   ViewSeconds())));
    if (rc == SQLITE_NOMEM)
        throw EProviderError(TooLargeToOpen(true, view,
                                            Format(Tr("evaluating it needs more than the %1$s of memory a view may take "
                                                      "(QUORLIN_RECORD_MEMORY sets the limit)"),
                                                   MemoryText(RecordMemoryLimit()))));
    if (rc == SQLITE_TOOBIG)
        throw EProviderError(TooLargeToOpen(
            true, view, Format(Tr("it makes a value longer than %1$s, the most one value may hold in a view"),
                               MemoryText(ViewValueBytes))));
    throw EProviderError(Format(Tr("The query '%1$s' cannot be opened: %2$s"), view, sqlite3_errmsg(db)));
}

}  // namespace quorlin
