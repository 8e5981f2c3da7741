// What keying a text costs in each script, against Latin text in the order of Access 2000-2007
// as the yardstick (what every key cost before the other scripts could be keyed); and what the
// editing process, which holds the sort orders' tables, costs to start, against the reading
// process, which holds none of them.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>

#include "data/format/write/TextKey.h"

extern char** environ;

using namespace quorlin::jet;

namespace {

void Key(benchmark::State& state, const TSortOrder& order, std::u16string_view text)
{
    for (auto _ : state) benchmark::DoNotOptimize(TextKey(text, order));
    state.SetItemsProcessed(state.iterations());
}

void BM_KeyLatin(benchmark::State& state) { Key(state, GeneralLegacySortOrder(), u"Shanghai Baoshan 58362"); }
void BM_KeyLatinAccented(benchmark::State& state) { Key(state, GeneralLegacySortOrder(), u"São Paulo-Guarulhos, o'Hare"); }
void BM_KeyChinese(benchmark::State& state) { Key(state, GeneralLegacySortOrder(), u"北京南郊观象台五四五一一号站"); }
void BM_KeyCyrillicGreek(benchmark::State& state) { Key(state, GeneralLegacySortOrder(), u"Москва-Балчуг Αθήνα Ελληνικό"); }
void BM_KeyLatinGeneral(benchmark::State& state) { Key(state, GeneralSortOrder(), u"Shanghai Baoshan 58362"); }
void BM_KeyChineseGeneral(benchmark::State& state) { Key(state, GeneralSortOrder(), u"北京南郊观象台五四五一一号站"); }

// Starts the program with no arguments, on which it says how it is started and ends.
void Start(benchmark::State& state, const char* program)
{
    for (auto _ : state) {
        pid_t pid = 0;
        char* argv[] = {const_cast<char*>(program), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
        if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) != 0) state.SkipWithError("cannot start");
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

void BM_StartReader(benchmark::State& state) { Start(state, QUORLIN_READER_EXE); }
void BM_StartEditor(benchmark::State& state) { Start(state, QUORLIN_EDITOR_EXE); }

}  // namespace

BENCHMARK(BM_KeyLatin);
BENCHMARK(BM_KeyLatinAccented);
BENCHMARK(BM_KeyChinese);
BENCHMARK(BM_KeyCyrillicGreek);
BENCHMARK(BM_KeyLatinGeneral);
BENCHMARK(BM_KeyChineseGeneral);
BENCHMARK(BM_StartReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartEditor)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
