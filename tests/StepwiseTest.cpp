#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/EquationTestSupport.h"
#include "numeric/Equation01.h"
#include "numeric/FloatError.h"

using namespace quorlin;
using quorlin::testing::ColumnOf;
using quorlin::testing::MatrixOf;

namespace {

const double One = 1.0;

struct Removal {
    std::int32_t Factor;
    double V;
    double F;
};

TMatrix TwoFactorR() { return MatrixOf({{1, 0.5}, {0.5, 1}}); }
TMatrix TwoFactorR_y() { return ColumnOf({0.8, 0.6}); }

TMatrix FourFactorR()
{
    return MatrixOf({{1, -0.8, 0.4, -0.2}, {-0.8, 1, -0.1, 0.7}, {0.4, -0.1, 1, 0.5}, {-0.2, 0.7, 0.5, 1}});
}
TMatrix FourFactorR_y() { return ColumnOf({0.4, 0.1, 0.7, 0.7}); }

}  // namespace

TEST(StepwiseTwoFactors, FirstFactorEntersAndSecondFailsTheTest)
{
    TTigEquation eq(TwoFactorR(), TwoFactorR_y(), &One, 4.0, 20);
    EXPECT_EQ(eq.SelectedCount(), 0);
    EXPECT_EQ(eq.RemovalMinCount(), 3);

    EXPECT_EQ(eq.TryEnter(), 0);
    EXPECT_NEAR(eq.Contribution(0), 0.64, 1e-15);
    EXPECT_EQ(eq.SelectedCount(), 1);
    EXPECT_NEAR(eq.Beta(0), 0.8, 1e-15);
    EXPECT_EQ(eq.Beta(1), 0.0);

    EXPECT_EQ(eq.TryEnter(), -1);
    EXPECT_NEAR(eq.Contribution(1), 0.16 / 3, 1e-15);
    EXPECT_EQ(eq.SelectedCount(), 1);
}

TEST(StepwiseTwoFactors, SolveStopsWithOneFactor)
{
    int removals = 0;
    TTigEquation counted(TwoFactorR(), TwoFactorR_y(), &One, 4.0, 20, [&](std::int32_t, double, double) { ++removals; });
    EXPECT_EQ(counted.Solve(), 0);
    EXPECT_EQ(removals, 0);
    EXPECT_EQ(counted.Finished(), 1);
    EXPECT_NEAR(counted.Beta(0), 0.8, 1e-15);
    EXPECT_EQ(counted.Beta(1), 0.0);
    EXPECT_NEAR(counted.ResidualShare(), 0.36, 1e-15);
    EXPECT_NEAR(counted.RegressionShare(), 0.64, 1e-15);
    EXPECT_NEAR(counted.MultipleR(), 0.8, 1e-15);
}

TEST(StepwiseTwoFactors, LowerThresholdTakesBothAndMatchesTheFullMethod)
{
    TTigEquation stepwise(TwoFactorR(), TwoFactorR_y(), &One, 2.0, 20);
    TAugEquation full(TwoFactorR(), TwoFactorR_y(), &One, 2.0, 20);
    stepwise.Solve();
    full.Solve();
    EXPECT_EQ(stepwise.SelectedCount(), 2);
    EXPECT_NEAR(stepwise.Beta(0), full.Beta(0), 1e-15);
    EXPECT_NEAR(stepwise.Beta(1), full.Beta(1), 1e-15);
    EXPECT_NEAR(stepwise.ResidualShare(), 0.92 / 3, 1e-15);
}

TEST(StepwiseTwoFactors, FewRecordsLeaveTheEquationEmpty)
{
    for (std::int32_t n : {3, 2, 1, 0}) {
        TTigEquation eq(TwoFactorR(), TwoFactorR_y(), &One, 4.0, n);
        eq.Solve();
        EXPECT_EQ(eq.SelectedCount(), 0) << "n = " << n;
        EXPECT_EQ(eq.Beta(0), 0.0);
        EXPECT_EQ(eq.Beta(1), 0.0);
        EXPECT_EQ(eq.ResidualShare(), 1.0);
        EXPECT_EQ(eq.RegressionShare(), 0.0);
        EXPECT_EQ(eq.MultipleR(), 0.0);
    }
}

TEST(StepwiseTwoFactors, EntryFIsFormedWithTheCountBeforeTheStep)
{
    // n = 3: F = (3 - 0 - 2) * 0.64 / 0.36 = 1.777..., below 4 but at least 1.7.
    TTigEquation low(TwoFactorR(), TwoFactorR_y(), &One, 1.7, 3);
    EXPECT_EQ(low.TryEnter(), 0);
    TTigEquation high(TwoFactorR(), TwoFactorR_y(), &One, 1.8, 3);
    EXPECT_EQ(high.TryEnter(), -1);
}

TEST(StepwiseOneFactor, EntersWithItsF)
{
    // F = 18 * 0.36 / 0.64 = 10.125: a threshold just below takes it in, just above does not.
    TTigEquation eq(MatrixOf({{1}}), ColumnOf({0.6}), &One, 10.12, 20);
    eq.Solve();
    EXPECT_EQ(eq.SelectedCount(), 1);
    EXPECT_NEAR(eq.Beta(0), 0.6, 1e-15);
    EXPECT_NEAR(eq.ResidualShare(), 0.64, 1e-15);
    EXPECT_NEAR(eq.MultipleR(), 0.6, 1e-15);

    TTigEquation above(MatrixOf({{1}}), ColumnOf({0.6}), &One, 10.13, 20);
    above.Solve();
    EXPECT_EQ(above.SelectedCount(), 0);
    EXPECT_EQ(above.Beta(0), 0.0);
}

TEST(StepwiseFourFactors, EntersThreeRemovesOneAndStops)
{
    std::vector<Removal> removals;
    TTigEquation eq(FourFactorR(), FourFactorR_y(), &One, 4.0, 20, [&](std::int32_t k, double v, double f) {
        // The removal is complete when the notice comes: the factor is already out.
        EXPECT_EQ(eq.SelectedCount(), 2);
        removals.push_back({k, v, f});
    });

    // Factors 2 and 3 tie at V = 0.49; the lower index enters.
    EXPECT_EQ(eq.TryEnter(), 2);
    EXPECT_NEAR(eq.Contribution(2), 0.49, 1e-15);
    EXPECT_NEAR(eq.Contribution(3), 0.49, 1e-15);
    EXPECT_EQ(eq.TryEnter(), 3);
    EXPECT_EQ(eq.TryEnter(), 0);
    EXPECT_EQ(eq.SelectedCount(), 3);
    EXPECT_EQ(eq.TryRemove(), 2);
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].Factor, 2);
    EXPECT_NEAR(removals[0].V, 0.009654, 5e-7);
    EXPECT_NEAR(removals[0].F, 0.785714, 5e-7);
    EXPECT_EQ(eq.Beta(2), 0.0);
}

TEST(StepwiseFourFactors, SolveFollowsTheWholePath)
{
    std::vector<Removal> removals;
    TTigEquation eq(FourFactorR(), FourFactorR_y(), &One, 4.0, 20,
                    [&](std::int32_t k, double v, double f) { removals.push_back({k, v, f}); });
    eq.Solve();
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].Factor, 2);
    EXPECT_NEAR(removals[0].F, 0.785714, 5e-7);
    EXPECT_EQ(eq.SelectedCount(), 2);
    EXPECT_NEAR(eq.Beta(0), 0.5625, 1e-14);
    EXPECT_EQ(eq.Beta(1), 0.0);
    EXPECT_EQ(eq.Beta(2), 0.0);
    EXPECT_NEAR(eq.Beta(3), 0.8125, 1e-14);
    EXPECT_NEAR(eq.ResidualShare(), 0.20625, 1e-14);
    EXPECT_NEAR(eq.RegressionShare(), 0.79375, 1e-14);
    EXPECT_NEAR(eq.MultipleR(), std::sqrt(0.79375), 1e-14);
    EXPECT_NEAR(eq.MultipleR(), 0.890926, 5e-7);
}

TEST(StepwiseRemoval, NotTriedWithFewerThanThreeFactors)
{
    // After factor 0 enters with a high F, factor 1 enters at the low threshold; its F to
    // remove would fail a threshold of 4, but with two factors no removal is tried.
    int removals = 0;
    TTigEquation watched(TwoFactorR(), TwoFactorR_y(), &One, 2.0, 20, [&](std::int32_t, double, double) { ++removals; });
    watched.Solve();
    EXPECT_EQ(removals, 0);
    EXPECT_EQ(watched.SelectedCount(), 2);
}

TEST(StepwiseRemoval, ZeroThresholdTakesEveryFactorAndRemovesNone)
{
    int removals = 0;
    TTigEquation eq(FourFactorR(), FourFactorR_y(), &One, 0.0, 20, [&](std::int32_t, double, double) { ++removals; });
    TAugEquation full(FourFactorR(), FourFactorR_y(), &One, 0.0, 20);
    eq.Solve();
    full.Solve();
    EXPECT_EQ(removals, 0);
    EXPECT_EQ(eq.SelectedCount(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(eq.Beta(i), full.Beta(i), 1e-13);
    EXPECT_NEAR(eq.ResidualShare(), full.ResidualShare(), 1e-14);
}

TEST(StepwiseSelection, FindIndexAndDimensions)
{
    const std::int32_t selected[] = {-1, 1, -1, 3};
    EXPECT_EQ(TTigEquation::FindIndex(1, selected, 4), 1);
    EXPECT_EQ(TTigEquation::FindIndex(3, selected, 4), 3);
    EXPECT_EQ(TTigEquation::FindIndex(2, selected, 4), -1);
    EXPECT_EQ(TTigEquation::FindIndex(3, selected, 3), -1);
    EXPECT_EQ(TTigEquation::FindIndex(-1, selected, 4), 0);

    // The factor count is the smallest of R's rows, R's columns and r's rows.
    TTigEquation eq(TwoFactorR(), ColumnOf({0.8}), &One, 4.0, 20);
    EXPECT_EQ(eq.FactorCount(), 1);
    EXPECT_EQ(eq.FactorColumns(), 1);
}

TEST(StepwiseFaults, CandidateExplainingEverythingDividesByZero)
{
    // V equals Q for a factor correlated 1 with Y: the entry test divides by Q - V = 0.
    TTigEquation eq(MatrixOf({{1}}), ColumnOf({1.0}), &One, 4.0, 20);
    try {
        eq.Solve();
        FAIL() << "no fault";
    } catch (const EMathError& e) {
        EXPECT_EQ(e.Fault(), FloatFault::ZeroDivide);
    }
}

TEST(StepwiseFaults, DependentFactorGetsNoContributionAndOnlyEntersAtZeroThreshold)
{
    // Factor 1 duplicates factor 0: once 0 is in, A(1,1) is exactly 0 and V(1) = 0.
    TTigEquation kept(MatrixOf({{1, 1}, {1, 1}}), ColumnOf({0.5, 0.5}), &One, 4.0, 20);
    kept.Solve();
    EXPECT_EQ(kept.SelectedCount(), 1);
    EXPECT_EQ(kept.Contribution(1), 0.0);

    TTigEquation forced(MatrixOf({{1, 1}, {1, 1}}), ColumnOf({0.5, 0.5}), &One, 0.0, 20);
    EXPECT_THROW(forced.Solve(), EMathError);
}

TEST(StepwiseFourFactors, StepNoticesFollowThePathAndAgreeWithTheRemovalNotice)
{
    std::vector<Removal> removals;
    std::vector<TStep> steps;
    TTigEquation eq(
        FourFactorR(), FourFactorR_y(), &One, 4.0, 20, [&](std::int32_t k, double v, double f) { removals.push_back({k, v, f}); },
        [&](const TStep& step) { steps.push_back(step); });
    eq.Solve();
    using Action = TStep::TAction;
    ASSERT_EQ(steps.size(), 4u);
    const std::pair<Action, std::int32_t> path[] = {{Action::Enter, 2}, {Action::Enter, 3}, {Action::Enter, 0}, {Action::Remove, 2}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(steps[i].Action, path[i].first) << i;
        EXPECT_EQ(steps[i].Factor, path[i].second) << i;
        EXPECT_EQ(steps[i].F >= 4.0, steps[i].Action == Action::Enter) << i;
    }
    // The first entry takes V = 0.49 off Q' = 1, with F = 18 · 0.49 / 0.51.
    EXPECT_NEAR(steps[0].V, 0.49, 1e-15);
    EXPECT_NEAR(steps[0].Q, 0.51, 1e-15);
    EXPECT_NEAR(steps[0].F, 18 * 0.49 / 0.51, 1e-13);
    // Each entry lowers Q' by its V and the removal raises it by its V.
    for (std::size_t i = 1; i < 4; ++i) {
        const double change = steps[i].Action == Action::Enter ? -steps[i].V : steps[i].V;
        EXPECT_NEAR(steps[i].Q, steps[i - 1].Q + change, 1e-14) << i;
    }
    EXPECT_EQ(steps[3].V, removals[0].V);
    EXPECT_EQ(steps[3].F, removals[0].F);
    EXPECT_NEAR(steps[3].Q, eq.ResidualShare(), 1e-15);
}
