// What computing from an Access table costs, against the plain reading of the same table by
// mdbtools' exporter. Table Big of ../shared/fixtures/bench.mdb (100 000 records, F00..F19
// and Y, all Double):
//
//   ComputeFullMethod   TCustomerData::OpenTable (catalog and records read in the isolated
//                       reading process and sent over the pipe), TStatistics with the full
//                       method over F00..F19 against Y, MakeEquationText: the whole compute
//                       command but starting the program and parsing its arguments
//   MdbExportToNull     `mdb-export bench.mdb Big > /dev/null` run as a child process: what
//                       reading and formatting every record costs another reader of the
//                       format (the yardstick)
//   ExportToNull        `quorlin-batch export bench.mdb --table Big > /dev/null`: the same work
//                       through our reader, its reading process and the CSV writer
//   PostOneChange       one changed field of one record of Big written back, as a post from
//                       the grid does it (on a copy in the temporary folder): the file loaded
//                       and found to be the one the grid's records were read from (the table
//                       the previous post returned, as the grid keeps it), the file rebuilt in
//                       memory, written beside the old one, synced and renamed over it, then the
//                       table read back through a fresh reading process and compared
//   PostKeyedChange     the same post on table Keyed of tests/data/regression.mdb (15 records,
//                       an AutoNumber primary key, 368 KB): what a post costs on a small table,
//                       where starting the reading process and syncing weigh most
//
// All are wall-clock times, since most of the work happens in child processes. After the
// runs the ratios compute/mdb-export and export/mdb-export are printed.
//
// Run: build/bench/access_bench  (built by default, not run by the test suite). Without
// ../shared/fixtures/bench.mdb every benchmark reports an error and nothing is measured.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "data/provider/CustomerData.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "statistics/Statistics01.h"

extern char** environ;

namespace {

using namespace quorlin;

const std::string& BenchDatabase()
{
    static const std::string path =
        (std::filesystem::path(QUORLIN_SOURCE_DIR) / ".." / "shared" / "fixtures" / "bench.mdb")
            .lexically_normal()
            .string();
    return path;
}

constexpr const char* BenchTable = "Big";
constexpr const char* MdbExport = "/usr/bin/mdb-export";

bool HaveDatabase(benchmark::State& state)
{
    std::error_code ec;
    if (std::filesystem::is_regular_file(BenchDatabase(), ec)) return true;
    state.SkipWithError(("bench.mdb not found at " + BenchDatabase()).c_str());
    return false;
}

void ComputeFullMethod(benchmark::State& state)
{
    if (!HaveDatabase(state)) return;
    std::vector<std::string> factors;
    for (int i = 0; i < 20; ++i) factors.push_back((i < 10 ? "F0" : "F") + std::to_string(i));
    std::int32_t records = 0;
    for (auto _ : state) {
        TCustomerData data;
        if (data.OpenTable(BenchDatabase(), BenchTable) != 2) {
            state.SkipWithError(("cannot open table Big: " + data.LastError()).c_str());
            break;
        }
        records = data.DataQuery.RecordCount();
        TStatistics stats(data.DataQuery, factors, "Y", 4.0, MethodFull);
        stats.MakeEquationText();
        benchmark::DoNotOptimize(stats.EquationText().data());
    }
    state.counters["records"] = records;
}

// Runs program with its arguments, its output to /dev/null, and waits for it; false (with the
// benchmark skipped) when it cannot be started or fails.
bool RunToNull(benchmark::State& state, const std::vector<std::string>& args)
{
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        state.SkipWithError(("cannot start " + args[0] + ": " + std::strerror(spawned)).c_str());
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError((args[0] + " failed").c_str());
        return false;
    }
    return true;
}

void MdbExportToNull(benchmark::State& state)
{
    if (!HaveDatabase(state)) return;
    if (::access(MdbExport, X_OK) != 0) {
        state.SkipWithError("/usr/bin/mdb-export not found (package mdbtools)");
        return;
    }
    for (auto _ : state)
        if (!RunToNull(state, {MdbExport, BenchDatabase(), BenchTable})) break;
}

void ExportToNull(benchmark::State& state)
{
    if (!HaveDatabase(state)) return;
    for (auto _ : state)
        if (!RunToNull(state, {QUORLIN_BATCH_EXE, "export", BenchDatabase(), "--table", BenchTable})) break;
}

// Posts one changed field of one record after another on a copy of source, each given the
// table the previous one returned as the records it was made on, as the grid gives them.
void PostChanges(benchmark::State& state, const std::string& source, const std::string& table, std::int32_t field)
{
    const auto copy = std::filesystem::temp_directory_path() / ("quorlin-bench-" + std::to_string(::getpid()) + ".mdb");
    std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms(0644));
    try {
        TTableData shown = ReadRecordsIsolated(copy.string(), table, false);
        std::int32_t record = 0;
        for (auto _ : state) {
            TRecordChange change;
            change.Record = record;
            change.Values.push_back({field, std::to_string(record % 97) + ".5"});
            shown = ApplyRecordChange(copy.string(), table, change, &shown);
            record = (record + 7919) % shown.RecordCount;
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
    std::error_code ec;
    std::filesystem::remove(copy, ec);
}

void PostOneChange(benchmark::State& state)
{
    if (HaveDatabase(state)) PostChanges(state, BenchDatabase(), BenchTable, 0);
}

void PostKeyedChange(benchmark::State& state)
{
    const std::string regression = std::string(QUORLIN_SOURCE_DIR) + "/tests/data/regression.mdb";
    PostChanges(state, regression, "Keyed", 1);  // x1; field 0 is the AutoNumber key
}

BENCHMARK(ComputeFullMethod)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(MdbExportToNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(ExportToNull)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(PostOneChange)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(PostKeyedChange)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The console output, and the mean wall time of each benchmark kept for the ratio.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, as the library's own reporter does by default.
    TRatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            auto& [sum, count] = FSeconds[run.run_name.function_name];
            sum += run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            ++count;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Mean seconds per iteration, or a negative number when the benchmark did not run.
    double Seconds(const std::string& name) const
    {
        const auto it = FSeconds.find(name);
        return it == FSeconds.end() || it->second.second == 0 ? -1.0 : it->second.first / it->second.second;
    }

private:
    std::map<std::string, std::pair<double, int>> FSeconds;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double yardstick = reporter.Seconds("MdbExportToNull");
    for (const char* name : {"ComputeFullMethod", "ExportToNull"}) {
        const double seconds = reporter.Seconds(name);
        if (seconds > 0 && yardstick > 0)
            std::printf("%s/mdb-export wall-time ratio: %.3f (%.1f ms / %.1f ms)\n", name, seconds / yardstick,
                        seconds * 1e3, yardstick * 1e3);
    }
    return 0;
}
