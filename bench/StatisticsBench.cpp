// What one press of the compute button costs once the records are in memory: the three passes
// over the records (means, covariances, covariances with Y), the correlations, solving the
// equation and the coefficients in data units, i.e. constructing TStatistics and making the
// equation text. Reading records from an Access file is not part of this measure.
//
//   FullMethod/100000/20   n = 100 000 records, m = 20 factors, full multiple regression
//   Stepwise/10000/200     n = 10 000 records, m = 200 factors, stepwise regression at Fa = 4
//
// Run: build/bench/statistics_bench  (built by default, not run by the test suite)

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "statistics/MemoryDataSet.h"
#include "statistics/Statistics01.h"

namespace {

using namespace quorlin;

// Factors from a few shared latent series plus noise, and a Y that depends on some of them,
// so that the stepwise method has real candidates to take in and out.
struct Table {
    TMemoryDataSet Data;
    std::vector<std::string> Factors;
};

Table MakeTable(int n, int m)
{
    std::mt19937_64 rng(20261208);
    std::normal_distribution<double> normal;
    Table t;
    for (int i = 0; i < m; ++i) t.Factors.push_back("X" + std::to_string(i));
    std::vector<std::string> names = t.Factors;
    names.push_back("Y");
    t.Data = TMemoryDataSet(names);
    std::vector<TCell> cells(static_cast<std::size_t>(m) + 1);
    for (int k = 0; k < n; ++k) {
        const double latent[3] = {normal(rng), normal(rng), normal(rng)};
        double y = 10.0;
        for (int i = 0; i < m; ++i) {
            const double x = 100.0 + 5.0 * latent[i % 3] + 3.0 * normal(rng);
            cells[static_cast<std::size_t>(i)] = x;
            if (i % 17 == 0) y += 0.3 * x;
        }
        cells[static_cast<std::size_t>(m)] = y + 4.0 * normal(rng);
        t.Data.AppendRecord(cells);
    }
    return t;
}

void Compute(benchmark::State& state, std::int32_t method)
{
    const int n = static_cast<int>(state.range(0));
    const int m = static_cast<int>(state.range(1));
    Table t = MakeTable(n, m);
    for (auto _ : state) {
        TStatistics stats(t.Data, t.Factors, "Y", 4.0, method);
        stats.MakeEquationText();
        benchmark::DoNotOptimize(stats.Constant());
    }
    state.counters["records"] = n;
    state.counters["factors"] = m;
}

void FullMethod(benchmark::State& state) { Compute(state, MethodFull); }
void Stepwise(benchmark::State& state) { Compute(state, MethodStepwise); }

BENCHMARK(FullMethod)->Args({100000, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(Stepwise)->Args({10000, 200})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
