#pragma once
// What SQL built from a file may do in the view engine, and how much. A saved query comes from
// whoever sent the file: it may read the tables and views this program made from the file and
// call the functions saved queries are documented to have, and nothing else; every value, every
// statement and the evaluation itself are bounded, so that a hostile query ends with a message
// naming what it exceeded instead of exhausting the reading process.

#include <chrono>
#include <functional>
#include <set>
#include <string>

struct sqlite3;

namespace quorlin {

// The most bytes one value, and one record of a table a view reads, may hold in a view. A memo
// typed in Access holds at most 65,535 characters, 256 KiB in UTF-8 at the very most, so a
// record of many such notes fits; a longer value or record (only a program writing the file can
// store one) stops the view with a message naming its field or table. A value the query builds
// stops at the same bound, long before it could take the engine's memory.
constexpr int ViewValueBytes = 16 << 20;
// The most bytes of SQL in one statement: Access itself keeps a query to about 64,000
// characters.
constexpr int ViewStatementBytes = 1 << 20;

// Seconds the evaluation of a view may take: QUORLIN_VIEW_SECONDS, else 5.
int ViewSeconds();

class TEngineGuard {
public:
    // Bounds db and guards it from here on; our own statements are trusted until Distrust.
    explicit TEngineGuard(sqlite3* db);
    // The process's SQLite heap is bounded while the guard lives (LimitEngine).
    ~TEngineGuard();
    TEngineGuard(const TEngineGuard&) = delete;
    TEngineGuard& operator=(const TEngineGuard&) = delete;

    void Trust() noexcept;
    // Statements from here on come from the file; creatingView lets the next one create a view.
    void Distrust(bool creatingView) noexcept;
    // A table or view made from the file, which SQL from the file may read.
    void AllowReading(const std::string& name);
    // The evaluation's time starts now; heartbeat is called about once a second meanwhile.
    void StartClock(std::function<void()> heartbeat);

    // The guard's reason for refusing the last statement, as the rest of a sentence that begins
    // with the view ("calls the function 'printf', which ..."); empty when it refused none.
    const std::string& Refusal() const noexcept { return FRefusal; }
    bool TimedOut() const noexcept { return FTimedOut; }

private:
    static int Authorize(void* self, int action, const char* first, const char* second, const char*, const char*);
    static int OnProgress(void* self);
    int Decide(int action, const char* first, const char* second);
    bool Readable(const char* table) const;
    int Refuse(std::string why);

    bool FTrusted = true;
    bool FCreatingView = false;
    bool FSchemaWritten = false;  // by SQLite itself, in the statement being prepared
    std::set<std::string> FReadable;  // in lower case: SQL names ignore letter case
    std::string FRefusal;
    std::function<void()> FHeartbeat;
    std::chrono::steady_clock::time_point FDeadline;
    std::chrono::steady_clock::time_point FNextBeat;
    bool FTimedOut = false;
    long long FSoftHeapLimitBefore;
    long long FHeapLimitBefore;
};

// Raises the EProviderError for a statement of the view that failed with rc: the guard's
// refusal, the bound it exceeded, or SQLite's own message.
[[noreturn]] void FailStatement(sqlite3* db, int rc, const TEngineGuard& guard, const std::string& view);

}  // namespace quorlin
