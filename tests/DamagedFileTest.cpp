// Damaged database files. A reader that believes what a file says about itself, on a file damaged on
// disk, cut short by a failed copy or grown by a bad transfer must cost the forecaster an error
// message, never the program: every read runs in a child process (data/reading/Isolation.h) that may
// crash or be killed for hanging. These tests damage the bundled regression.mdb a thousand ways
// from a fixed seed and do with each copy everything the program does with a file (connect,
// list the tables, open each one, read every value) in this very process, and run the batch
// command on a sample of the copies. Any copy that fails is named with its number, seed and
// damage, so that it can be made again with MakeDamagedCopy.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/ProgramSupport.h"
#include "tests/StatisticsTestSupport.h"
#include "data/provider/CustomerData.h"
#include "data/reading/Isolation.h"

extern char** environ;

using namespace quorlin;
using namespace quorlin::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t DamageSeed = 12082026;
constexpr int CopyCount = 1000;
constexpr int CopiesPerCase = 250;
// Every BatchSampleStep-th copy also goes through the batch command: 100 copies in all.
constexpr int BatchSampleStep = 10;
// Under AddressSanitizer each reading process lives several times longer (the sanitizer's
// allocator and shadow memory come along into it); every fourth copy exercises both the reader
// in the child and this process's side (the stream reader, the data module) well enough. That leaves 250 copies,
// 50 of them through the batch command; the normal build runs all thousand.
#if defined(__SANITIZE_ADDRESS__)
constexpr int CopyStride = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int CopyStride = 4;
#else
constexpr int CopyStride = 1;
#endif
#else
constexpr int CopyStride = 1;
#endif
// Jet 4 pages; pages 0 to 3 hold the file header and the catalog.
constexpr std::size_t PageSize = 4096;
constexpr std::size_t CatalogPages = 4;
// A reading process silent this long is taken to hang (QUORLIN_READ_TIMEOUT) ...
constexpr const char* ReadTimeout = "5";
// ... so that one copy, whatever it holds, is done with well within this.
constexpr auto RoundLimit = std::chrono::seconds(60);

// The tables of regression.mdb the batch command is run on, with a Y each.
const std::vector<std::pair<std::string, std::string>> BatchTables = {
    {"Sample", "y"},    {"Weather", "Rain"}, {"Stations", "Rain"}, {"Longley", "TOTEMP"},   {"ElNino", "DEC"},
    {"Types", "y"},     {"Nulls", "y"},      {"Keyed", "y"},       {"降水", "降水量"}, {"Rain Data", "y"},
};

// The saved select queries of regression.mdb, listed with the tables but not opened yet.
bool IsView(const std::string& name) { return name == "WarmDays" || name == "Fahrenheit"; }

const std::string& Original()
{
    static const std::string bytes = ReadBytes(DataFile("regression.mdb"));
    return bytes;
}

struct TDamagedCopy {
    std::string Bytes;
    std::string Damage;  // what was done, for the failure message
};

std::string Hex(std::size_t v)
{
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

// The same index always gives the same copy, whatever else ran before.
TDamagedCopy MakeDamagedCopy(const std::string& original, int index)
{
    std::mt19937_64 rng(DamageSeed + static_cast<std::uint64_t>(index));
    auto uniform = [&](std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
    };
    auto randomByte = [&] { return static_cast<char>(uniform(0, 255)); };

    TDamagedCopy copy{original, {}};
    std::string& b = copy.Bytes;
    std::ostringstream what;
    const std::size_t pages = b.size() / PageSize;

    auto overwrite = [&](std::size_t page) {
        const std::size_t count = uniform(1, 64);
        if (uniform(0, 1) == 0) {
            // One run, as a bad sector or a torn write leaves it.
            const std::size_t at = page * PageSize + uniform(0, PageSize - count);
            for (std::size_t i = 0; i < count; ++i) b[at + i] = randomByte();
            what << "overwrite " << count << " bytes at page " << page << " +" << Hex(at - page * PageSize) << "; ";
        } else {
            for (std::size_t i = 0; i < count; ++i) b[page * PageSize + uniform(0, PageSize - 1)] = randomByte();
            what << "overwrite " << count << " scattered bytes in page " << page << "; ";
        }
    };
    auto fillPage = [&](std::size_t page, bool zero) {
        for (std::size_t i = 0; i < PageSize; ++i) b[page * PageSize + i] = zero ? '\0' : randomByte();
        what << (zero ? "zero" : "randomise") << " page " << page << "; ";
    };
    // The counts and offsets at the head of a page (page type, free space, owner, row count,
    // the row offset table) are what a reader must not follow blindly; extreme values test its bounds.
    auto headerFields = [&](std::size_t page) {
        static const std::uint32_t extremes[] = {0,      1,      0x7F,   0x80,       0xFF,
                                                 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF};
        const std::size_t fields = uniform(1, 4);
        for (std::size_t f = 0; f < fields; ++f) {
            const std::size_t at = page * PageSize + uniform(0, 30) * 2;
            std::uint32_t v = uniform(0, 3) == 0 ? static_cast<std::uint32_t>(uniform(0, 0xFFFFFFFF))
                                                 : extremes[uniform(0, std::size(extremes) - 1)];
            const std::size_t width = uniform(0, 1) == 0 ? 2 : 4;
            if (width == 2) v &= 0xFFFF;
            for (std::size_t i = 0; i < width; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
            what << "set " << width * 8 << "-bit field at page " << page << " +" << Hex(at - page * PageSize)
                 << " to " << Hex(v) << "; ";
        }
    };

    auto damage = [&](std::size_t kind) {
        switch (kind) {
        case 0:
            for (std::size_t n = uniform(1, 4); n > 0; --n) overwrite(uniform(0, pages - 1));
            break;
        case 1: headerFields(uniform(0, pages - 1)); break;
        case 2: overwrite(uniform(0, CatalogPages - 1)); break;
        case 3: headerFields(uniform(0, CatalogPages - 1)); break;
        case 4: fillPage(uniform(0, CatalogPages - 1), uniform(0, 1) == 0); break;
        case 5:
            for (std::size_t n = uniform(1, 3); n > 0; --n) fillPage(uniform(0, pages - 1), true);
            break;
        case 6:
            for (std::size_t n = uniform(1, 3); n > 0; --n) fillPage(uniform(0, pages - 1), false);
            break;
        case 7: {
            const std::size_t length = uniform(0, b.size() - 1);
            b.resize(length);
            what << "truncate to " << length << " bytes; ";
            break;
        }
        default: {
            const std::size_t count = uniform(1, 3 * PageSize + PageSize / 2);
            for (std::size_t i = 0; i < count; ++i) b.push_back(randomByte());
            what << "append " << count << " random bytes; ";
            break;
        }
        }
    };

    // A quarter of the copies carry two kinds of damage, the page damage first, so that a
    // truncated or lengthened file may also be damaged inside.
    if (uniform(0, 3) == 0) damage(uniform(0, 6));
    damage(uniform(0, 8));
    copy.Damage = what.str();
    copy.Damage.resize(copy.Damage.size() - 2);  // the last "; "
    return copy;
}

std::string Describe(int index, const TDamagedCopy& copy)
{
    return "copy " + std::to_string(index) + " (seed " + std::to_string(DamageSeed) + "+" + std::to_string(index) +
           ", " + std::to_string(copy.Bytes.size()) + " bytes): " + copy.Damage;
}

// A copy that made this process hang would only show as a ctest timeout, without saying which
// copy it was; the watchdog names it and ends the process.
class TWatchdog {
public:
    explicit TWatchdog(std::chrono::seconds limit) : FLimit(limit), FThread([this] { Watch(); }) {}
    ~TWatchdog()
    {
        {
            std::lock_guard lock(FMutex);
            FStop = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

    void Arm(std::string what)
    {
        std::lock_guard lock(FMutex);
        FWhat = std::move(what);
        FDeadline = Clock::now() + FLimit;
    }
    void Disarm()
    {
        std::lock_guard lock(FMutex);
        FDeadline.reset();
    }

private:
    void Watch()
    {
        std::unique_lock lock(FMutex);
        while (!FStop) {
            if (FDeadline && Clock::now() >= *FDeadline) {
                std::fprintf(stderr, "HANG: no result after %lld s: %s\n", static_cast<long long>(FLimit.count()),
                             FWhat.c_str());
                std::fflush(stderr);
                std::abort();
            }
            FChanged.wait_for(lock, std::chrono::milliseconds(500));
        }
    }

    std::chrono::seconds FLimit;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FStop = false;
    std::optional<Clock::time_point> FDeadline;
    std::string FWhat;
    std::thread FThread;
};

std::size_t OpenDescriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// True when this process has no child left: every reading process was waited for.
bool NoChildLeft()
{
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

struct TRound {
    int Connected = 0;
    std::map<std::string, int> Opened;                       // listed name -> OpenTable's result
    std::map<std::string, std::vector<std::string>> Fields;  // of the tables that opened
    std::int64_t Values = 0;                                 // values read
};

// Reads every value of every record through the dataset interface, as the grid and the
// statistics do, and checks that the cursor keeps to what the query claims to hold.
void ReadEverything(TMdbQuery& q, const std::string& where, TRound& round)
{
    const std::int32_t count = q.RecordCount();
    ASSERT_GE(count, 0) << where;
    std::int32_t visited = 0;
    for (q.First(); !q.Eof(); q.Next()) {
        ASSERT_LT(visited, count) << where << ": the cursor runs past the records";
        ++visited;
        ASSERT_EQ(q.RecNo(), visited) << where;
        for (std::int32_t f = 0; f < q.FieldCount(); ++f) {
            const bool null = q.IsNull(f);
            const std::string& text = q.Text(f);
            if (null) {
                EXPECT_TRUE(text.empty()) << where << ", field " << f;
            }
            try {
                const double v = q.AsFloat(f);
                if (null && q.Field(f).Type != TColumnType::Text) {
                    EXPECT_EQ(v, 0.0) << where << ": a NULL number reads as 0, field " << f;
                }
            } catch (const EConvertError&) {
                // A text that is no number, or a field without a numeric reading: the user is told.
            }
            ++round.Values;
        }
    }
    EXPECT_EQ(visited, count) << where;
}

// What the program does with a file: connect, list, open every listed table and read it.
TRound OpenEverything(const std::string& path, const std::string& where)
{
    TRound round;
    TCustomerData d;
    round.Connected = d.ConnectDatabase(path);
    EXPECT_TRUE(round.Connected == 1 || round.Connected == -1) << where << ": ConnectDatabase gave " << round.Connected;
    EXPECT_EQ(d.DataConn.Connected(), round.Connected == 1) << where;
    if (round.Connected != 1) {
        EXPECT_FALSE(d.LastError().empty()) << where << ": a failed connection says why";
    }

    std::vector<std::string> names;
    d.DataConn.GetTableNames(names, false);
    for (const auto& name : names) {
        const std::string at = where + ", table '" + name + "'";
        const int opened = d.OpenTable(path, name);
        round.Opened[name] = opened;
        EXPECT_TRUE(opened == -1 || opened == 1 || opened == 2) << at << ": OpenTable gave " << opened;
        EXPECT_EQ(d.DataQuery.Active(), opened == 2) << at;
        if (opened != 2) {
            // An empty name (a damaged catalog can list one) is no table to open: the module
            // leaves it at the connection, as for a caller that names no table.
            if (!name.empty()) {
                EXPECT_FALSE(d.LastError().empty()) << at << ": a failed open says why";
            }
            continue;
        }
        round.Fields[name] = d.DataQuery.FieldNames();
        ReadEverything(d.DataQuery, at, round);
    }
    return round;
}

struct TExit {
    bool Exited = false;
    int Status = -1;
    int Signal = 0;
    bool TimedOut = false;
    std::string Out;
    std::string Err;
};

// Output that went wrong can be long (a page dump, say); its start tells what it is.
std::string Clip(const std::string& text)
{
    constexpr std::size_t Shown = 240;
    if (text.size() <= Shown) return "\"" + text + "\"";
    return "\"" + text.substr(0, Shown) + "\"... (" + std::to_string(text.size()) + " bytes)";
}

std::string DescribeExit(const TExit& e)
{
    if (e.TimedOut) return "still running after 60 s (killed)";
    if (!e.Exited) return "killed by signal " + std::to_string(e.Signal);
    return "exit " + std::to_string(e.Status) + ", stderr: " + Clip(e.Err);
}

// Runs the batch command as a script would, its output in files of folder.
TExit RunBatchExecutable(const std::vector<std::string>& args, const TempFolder& folder)
{
    const std::string outPath = (folder / "batch.out").string();
    const std::string errPath = (folder / "batch.err").string();
    std::vector<std::string> all{QUORLIN_BATCH_EXE};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = StartProgram(all, outPath, errPath);
    TExit result;
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << QUORLIN_BATCH_EXE << ": " << std::strerror(errno);
        return result;
    }

    const auto deadline = Clock::now() + RoundLimit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return result;
        }
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            result.TimedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.Exited = WIFEXITED(status);
    result.Status = result.Exited ? WEXITSTATUS(status) : -1;
    result.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.Out = ReadBytes(outPath);
    result.Err = ReadBytes(errPath);
    return result;
}

// The batch command on a copy: it must end by itself with a documented status, tell why when
// it fails, and agree with the data module about whether the table opens.
void CheckBatchCommand(const std::string& copy, int index, const TRound& round, const std::string& where,
                       const TempFolder& folder)
{
    const auto& [table, y] = BatchTables[static_cast<std::size_t>(index / BatchSampleStep) % BatchTables.size()];
    const auto listed = round.Opened.find(table);
    const bool opens = listed != round.Opened.end() && listed->second == 2;
    const std::string at = where + ", table '" + table + "'";

    const TExit fields = RunBatchExecutable({"fields", copy, "--table", table}, folder);
    ASSERT_TRUE(fields.Exited && !fields.TimedOut) << at << ": fields " << DescribeExit(fields);
    EXPECT_EQ(fields.Status, opens ? 0 : 2) << at << ": fields " << DescribeExit(fields);
    if (fields.Status != 0) {
        EXPECT_NE(fields.Err.find("quorlin-batch: "), std::string::npos) << at;
    } else {
        // The names exactly as the data module saw them, and nothing else on stdout.
        std::string names;
        for (const auto& name : round.Fields.at(table)) names += name + "\n";
        EXPECT_TRUE(fields.Out == names) << at << ": fields printed " << Clip(fields.Out) << " for " << names;
    }

    const TExit compute =
        RunBatchExecutable({"compute", copy, "--table", table, "--y", y, "--method", "full", "--json"}, folder);
    ASSERT_TRUE(compute.Exited && !compute.TimedOut) << at << ": compute " << DescribeExit(compute);
    EXPECT_TRUE(compute.Status == 0 || compute.Status == 1 || compute.Status == 2)
        << at << ": compute " << DescribeExit(compute);
    if (!opens) {
        EXPECT_EQ(compute.Status, 2) << at << ": compute " << DescribeExit(compute);
    }
    // Whatever the file held, stdout carries one well-formed JSON object saying how it went.
    const auto json = nlohmann::json::parse(compute.Out, nullptr, false);
    ASSERT_TRUE(json.is_object()) << at << ": compute printed " << Clip(compute.Out);
    EXPECT_TRUE(json.contains(compute.Status == 0 ? "equation" : "error")) << at << ": " << Clip(compute.Out);
}

class DamagedCopies : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() { ::setenv("QUORLIN_READ_TIMEOUT", ReadTimeout, 1); }
};

// One quarter of the copies, so that ctest can run the quarters side by side.
TEST_P(DamagedCopies, NeverCrashOrHang)
{
    ASSERT_EQ(Original().size() % PageSize, 0u) << "regression.mdb is expected in Jet 4 pages";
    TempFolder folder;
    TWatchdog watchdog(3 * RoundLimit);
    const std::size_t descriptors = OpenDescriptors();
    int refused = 0, tablesOpened = 0, tablesRefused = 0;

    const int first = GetParam() * CopiesPerCase;
    int tested = 0;
    for (int index = first; index < first + CopiesPerCase; index += CopyStride) {
        ++tested;
        const TDamagedCopy copy = MakeDamagedCopy(Original(), index);
        const std::string where = Describe(index, copy);
        const std::string path = (folder / ("copy-" + std::to_string(index) + ".mdb")).string();
        WriteBytes(path, copy.Bytes);

        watchdog.Arm(where);
        const auto start = Clock::now();
        TRound round;
        try {
            round = OpenEverything(path, where);
        } catch (const std::exception& e) {
            ADD_FAILURE() << where << ": " << e.what();
        }
        const auto elapsed = Clock::now() - start;
        watchdog.Disarm();
        EXPECT_LT(elapsed, RoundLimit) << where << ": took "
                                       << std::chrono::duration_cast<std::chrono::seconds>(elapsed).count() << " s";
        EXPECT_TRUE(NoChildLeft()) << where << ": a reading process was left behind";
        EXPECT_EQ(OpenDescriptors(), descriptors) << where << ": file descriptors leaked";

        refused += round.Connected != 1;
        for (const auto& [name, opened] : round.Opened) {
            if (!IsView(name)) (opened == 2 ? tablesOpened : tablesRefused) += 1;
        }

        if (index % BatchSampleStep == 0) {
            watchdog.Arm(where + " (batch command)");
            CheckBatchCommand(path, index, round, where, folder);
            watchdog.Disarm();
        }
        std::filesystem::remove(path);
    }

    // The damage must reach every layer, or the quarter proves little: some copies are refused
    // outright, and in others some tables open and some do not (the views never do).
    EXPECT_GT(refused, 0);
    EXPECT_LT(refused, tested);
    EXPECT_GT(tablesOpened, 0);
    EXPECT_GT(tablesRefused, 0);
    RecordProperty("refused", refused);
    RecordProperty("tables_opened", tablesOpened);
    RecordProperty("tables_refused", tablesRefused);
}

INSTANTIATE_TEST_SUITE_P(Quarter, DamagedCopies, ::testing::Range(0, CopyCount / CopiesPerCase));

class DamagedFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::setenv("QUORLIN_READ_TIMEOUT", ReadTimeout, 1); }

    // A file that is no database: refused on connecting, the table not opened, the batch
    // command ends with status 2 and a message.
    void ExpectRefused(const std::string& path)
    {
        TCustomerData d;
        EXPECT_EQ(d.ConnectDatabase(path), -1);
        EXPECT_FALSE(d.DataConn.Connected());
        EXPECT_FALSE(d.LastError().empty());
        EXPECT_EQ(d.OpenTable(path, "Sample"), -1);
        EXPECT_FALSE(d.DataQuery.Active());
        EXPECT_TRUE(NoChildLeft());
        ExpectBatchRefuses(path, false);
    }

    // The listing of tables may succeed when the catalog does; no table may open.
    void ExpectBatchRefuses(const std::string& path, bool connects)
    {
        if (!connects) {
            const TExit e = RunBatchExecutable({"tables", path}, Folder);
            ASSERT_TRUE(e.Exited && !e.TimedOut) << "tables: " << DescribeExit(e);
            EXPECT_EQ(e.Status, 2) << "tables: " << DescribeExit(e);
            EXPECT_NE(e.Err.find("quorlin-batch: "), std::string::npos) << "tables: " << e.Err;
        }
        const std::vector<std::vector<std::string>> commands{
            {"fields", path, "--table", "Sample"},
            {"compute", path, "--table", "Sample", "--y", "y", "--method", "full"},
        };
        for (const auto& args : commands) {
            const TExit e = RunBatchExecutable(args, Folder);
            ASSERT_TRUE(e.Exited && !e.TimedOut) << args[0] << ": " << DescribeExit(e);
            EXPECT_EQ(e.Status, 2) << args[0] << ": " << DescribeExit(e);
            EXPECT_NE(e.Err.find("quorlin-batch: "), std::string::npos) << args[0] << ": " << e.Err;
            EXPECT_TRUE(e.Out.empty()) << args[0] << ": " << e.Out;
        }
    }

    TempFolder Folder;
};

TEST_F(DamagedFile, UndamagedCopyReadsCompletely)
{
    // The check on the copies is only as good as its reading: on the intact file it must open
    // every table and reach every value.
    const std::string path = (Folder / "intact.mdb").string();
    WriteBytes(path, Original());
    const TRound round = OpenEverything(path, "intact copy");
    EXPECT_EQ(round.Connected, 1);
    ASSERT_EQ(round.Opened.count("Sample"), 1u);
    for (const auto& [name, opened] : round.Opened) {
        if (!IsView(name)) {
            EXPECT_EQ(opened, 2) << name;
        }
    }
    EXPECT_EQ(round.Opened.size(), 18u);  // 16 tables and the 2 views
    EXPECT_GT(round.Values, 1000);

    TCustomerData d;
    ASSERT_EQ(d.OpenTable(path, "Sample"), 2);
    ASSERT_EQ(d.DataQuery.RecordCount(), 5);
    const std::int32_t x1 = d.DataQuery.FieldByName("x1");
    double sum = 0;
    for (d.DataQuery.First(); !d.DataQuery.Eof(); d.DataQuery.Next()) sum += d.DataQuery.AsFloat(x1);
    EXPECT_EQ(sum, 15.0);

    const TExit e =
        RunBatchExecutable({"compute", path, "--table", "Sample", "--y", "y", "--method", "full", "--json"}, Folder);
    ASSERT_TRUE(e.Exited) << DescribeExit(e);
    EXPECT_EQ(e.Status, 0) << DescribeExit(e);
    EXPECT_EQ(nlohmann::json::parse(e.Out, nullptr, false).value("equation", ""), "y=0.517+2.383*x1-0.083*x2");
}

// Should a file still find a way to crash the reader, only the reading process dies: this
// process reports the table as unreadable and goes on, and the data module stays fit for use.
// The reading program's test switch that makes it fault stands in for that file.
TEST_F(DamagedFile, CrashOfTheReaderIsContained)
{
    const std::string failure = "The table 'Stepwise2' cannot be read: the database file is damaged";
    try {
        RunReader({"probe", "crash", (Folder / "any.mdb").string()}, [](TWireReader&) {}, failure);
        ADD_FAILURE() << "a crashed reading process went unnoticed";
    } catch (const EProviderError& e) {
        EXPECT_EQ(std::string(e.what()), failure);
    }
    EXPECT_TRUE(NoChildLeft());

    const std::string path = (Folder / "intact.mdb").string();
    WriteBytes(path, Original());
    TCustomerData d;
    ASSERT_EQ(d.OpenTable(path, "Sample"), 2) << d.LastError();
    EXPECT_EQ(d.DataQuery.RecordCount(), 5);
}

TEST_F(DamagedFile, ZeroLengthFileIsRefused)
{
    const std::string path = (Folder / "empty.mdb").string();
    WriteBytes(path, "");
    ExpectRefused(path);
}

TEST_F(DamagedFile, TextFileNamedMdbIsRefused)
{
    const std::string path = (Folder / "stations.mdb").string();
    WriteBytes(path, ReadBytes(DataFile("Stations.csv")));
    ASSERT_GT(std::filesystem::file_size(path), 0u);
    ExpectRefused(path);
}

TEST_F(DamagedFile, FileCutShortAt10000BytesOpensNoTable)
{
    // Two pages and a half: the header survives, the catalog is cut in the middle.
    const std::string path = (Folder / "cut.mdb").string();
    WriteBytes(path, Original().substr(0, 10000));
    TCustomerData d;
    const int connected = d.ConnectDatabase(path);
    ASSERT_TRUE(connected == -1 || connected == 1) << connected;
    std::vector<std::string> tables{"Sample", "Weather", "Types", "ElNino"};
    std::vector<std::string> listed;
    d.DataConn.GetTableNames(listed, false);
    tables.insert(tables.end(), listed.begin(), listed.end());
    for (const auto& table : tables) {
        const int opened = d.OpenTable(path, table);
        EXPECT_NE(opened, 2) << table;
        EXPECT_EQ(opened, connected) << table;
        EXPECT_FALSE(d.DataQuery.Active()) << table;
        EXPECT_FALSE(d.LastError().empty()) << table;
    }
    EXPECT_TRUE(NoChildLeft());
    ExpectBatchRefuses(path, connected == 1);
}

}  // namespace
