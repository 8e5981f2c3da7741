// What the honest skill check costs once the records are in memory: cross-validation with the
// stepwise selection repeated in every fold, one fold per record (the fold's sums downdated from
// the full sample's, its correlations, the stepwise equation, the forecast of the record left
// out) and the skill figures. Reading the records and the final equation are not part of it.
//
//   LeaveOneOut/10000/20   n = 10 000 records, m = 20 factors, leave-one-out, stepwise at Fa = 4
//   LeaveFiveOut/10000/20  the same leaving out 5 records centred on the one forecast
//   ElNino                 examples/elnino.csv, DEC on the other 12 columns, leave-one-out
//
// Run: build/bench/skill_bench  (built by default, not run by the test suite)

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "statistics/CrossValidation.h"
#include "statistics/Statistics01.h"

namespace {

using namespace quorlin;

// Factors from a few shared latent series plus noise, and a Y that depends on some of them,
// so that every fold's stepwise selection has real candidates to take in and out.
TSkillSample MakeSample(int n, int m)
{
    std::mt19937_64 rng(20261208);
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

void CrossValidation(benchmark::State& state, std::int32_t leave)
{
    const int n = static_cast<int>(state.range(0));
    const int m = static_cast<int>(state.range(1));
    const TSkillSample sample = MakeSample(n, m);
    for (auto _ : state) {
        const TCrossValidation cv = CrossValidate(sample, MethodStepwise, 4.0, leave);
        benchmark::DoNotOptimize(cv.Rmse);
    }
    state.counters["records"] = n;
    state.counters["factors"] = m;
}

void LeaveOneOut(benchmark::State& state) { CrossValidation(state, 1); }
void LeaveFiveOut(benchmark::State& state) { CrossValidation(state, 5); }

// The example table: a header line, then lines of plain numbers.
TSkillSample ElNinoSample()
{
    std::ifstream in(QUORLIN_EXAMPLES "/elnino.csv");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> names;
    std::istringstream header(line);
    for (std::string name; std::getline(header, name, ',');) names.push_back(name);
    std::vector<std::vector<double>> columns(names.size());
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        std::string cell;
        for (std::size_t i = 0; i < names.size() && std::getline(cells, cell, ','); ++i) columns[i].push_back(std::stod(cell));
    }
    std::vector<double> y = std::move(columns.back());
    columns.pop_back();
    const std::string yName = names.back();
    names.pop_back();
    return TSkillSample(std::move(names), std::move(columns), yName, std::move(y));
}

void ElNino(benchmark::State& state)
{
    const TSkillSample sample = ElNinoSample();
    for (auto _ : state) {
        const TCrossValidation cv = CrossValidate(sample, MethodStepwise, 4.0, 1);
        benchmark::DoNotOptimize(cv.Rmse);
    }
    state.counters["records"] = sample.RecordCount();
}

BENCHMARK(LeaveOneOut)->Args({10000, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(LeaveFiveOut)->Args({10000, 20})->Unit(benchmark::kMillisecond);
BENCHMARK(ElNino)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
