// What the outlook's two long computations cost once the records are in memory.
//
//   ScreeningNull/60/20          the screening null test: 1 000 shuffles of Y, each followed by a
//                                leave-one-out cross-validation with the stepwise selection (Fa 4)
//                                redone in every fold, on n = 60 records and m = 20 factors; per
//                                shuffle only the sums that involve Y are made again. Goal: under 2 s.
//   ScreeningNullTerciles/60/20  the same with the tercile probabilities of every fold and the RPSS of
//                                every shuffle.
//   Retroactive/10000/20         forecasts as in real time of every record after the first half of
//                                n = 10 000 records, m = 20 factors, stepwise at Fa 4, the sums taken
//                                forward one record at a time. Goal: under 1 s.
//   RetroactiveTerciles/10000/20 the same with the tercile probabilities of every step and their scores.
//
// Run: build/bench/outlook_bench  (built by default, not run by the test suite)

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "statistics/Retroactive.h"
#include "statistics/ScreeningNull.h"
#include "statistics/Statistics01.h"

namespace {

using namespace quorlin;

// Factors from a few shared latent series plus noise, and a Y that depends on some of them, so
// that the stepwise selection has real candidates to take in and out.
TSkillSample MakeSample(int n, int m)
{
    std::mt19937_64 rng(20261209);
    std::normal_distribution<double> normal;
    std::vector<std::string> names;
    for (int i = 0; i < m; ++i) names.push_back("X" + std::to_string(i));
    std::vector<std::vector<double>> factors(static_cast<std::size_t>(m));
    std::vector<double> y;
    for (int k = 0; k < n; ++k) {
        const double latent[3] = {normal(rng), normal(rng), normal(rng)};
        double value = 10.0;
        for (int i = 0; i < m; ++i) {
            const double x = 100.0 + 5.0 * latent[i % 3] + 3.0 * normal(rng);
            factors[static_cast<std::size_t>(i)].push_back(x);
            if (i % 7 == 0) value += 0.3 * x;
        }
        y.push_back(value + 4.0 * normal(rng));
    }
    return TSkillSample(names, std::move(factors), "Y", std::move(y));
}

void Null(benchmark::State& state, bool terciles)
{
    const TSkillSample sample = MakeSample(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        const TScreeningNull null = ScreenNoise(sample, MethodStepwise, 4.0, 1, {1000, 1, terciles});
        benchmark::DoNotOptimize(null.Msss.P);
    }
}

void Retro(benchmark::State& state, bool terciles)
{
    const TSkillSample sample = MakeSample(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const std::int32_t start = DefaultRetroactiveStart(sample.RecordCount());
    for (auto _ : state) {
        const TRetroactive retro = ForecastRetroactively(sample, MethodStepwise, 4.0, start);
        benchmark::DoNotOptimize(retro.Rmse);
        if (terciles) benchmark::DoNotOptimize(RetroactiveProbabilities(sample.Y(), retro).Scores.Rpss);
    }
}

void ScreeningNull(benchmark::State& state) { Null(state, false); }
void ScreeningNullTerciles(benchmark::State& state) { Null(state, true); }
void Retroactive(benchmark::State& state) { Retro(state, false); }
void RetroactiveTerciles(benchmark::State& state) { Retro(state, true); }

BENCHMARK(ScreeningNull)->Args({60, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(ScreeningNullTerciles)->Args({60, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(Retroactive)->Args({10000, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(RetroactiveTerciles)->Args({10000, 20})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
