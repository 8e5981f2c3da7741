#pragma once
// Cross-validation with the selection inside each fold: each record is forecast by an equation
// made without it (and without its neighbours when more than one record is left out), the
// stepwise screening repeated on the records kept, so that the skill it shows is skill the
// equation would have had on a year it had not seen.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "statistics/SkillError.h"
#include "statistics/SkillSample.h"

namespace quorlin {

// Told after each fold (done of total); returning false abandons the computation with
// ESkillCancelled.
using TFoldProgress = std::function<bool(std::int32_t done, std::int32_t total)>;

struct TCrossValidation {
    std::int32_t Leave = 1;
    // One value per record, in record order: the forecast of the record by its fold's equation,
    // and the mean Y of its fold's training records (what climatology forecasts).
    std::vector<double> Hindcast;
    std::vector<double> Climatology;
    // Folds that could not be computed: a factor or Y constant in the records kept, a singular
    // matrix (the full method with no fewer factors than records kept, or a factor of the fold's
    // equation with a variance inflation factor above 1e12, i.e. a combination of the others to
    // working precision), a floating-point fault. Their hindcast is the training mean.
    std::vector<bool> Failed;
    std::int32_t FailedFolds = 0;
    // What the tercile probabilities of each hindcast need: s · sqrt(1 + 1/n' + d'C⁻¹d) of its
    // fold's equation (empty where the fold failed or left no degrees of freedom) and that
    // equation's n' - l - 1.
    std::vector<std::optional<double>> Spread;
    std::vector<std::int32_t> Dof;
    // Correlation of hindcast and observed Y: empty when either does not vary.
    std::optional<double> Correlation;
    double Rmse = 0.0;
    double Mae = 0.0;
    // 1 - MSE(hindcast) / MSE(climatology): empty when climatology makes no error at all.
    std::optional<double> Msss;
    // For each candidate factor, how many folds' equations held it (failed folds hold none).
    std::vector<std::int32_t> SelectionCounts;
};

// The records a fold leaves out around record centre: the leave records centred on it, cut at
// the ends of the sample. first and last are 0-based and inclusive.
struct TFoldWindow {
    std::int32_t First = 0;
    std::int32_t Last = 0;
};
TFoldWindow FoldWindow(std::int32_t centre, std::int32_t leave, std::int32_t recordCount);

// Checks that leave is odd, at least 1, and leaves records to fit; raises ESkillError naming
// what is wrong.
void CheckLeave(std::int32_t leave, std::int32_t recordCount);

// One fold per record, method and fa as for the final equation. Raises ESkillError for a bad
// leave, ESkillCancelled when progress says so, EMathError when the skill figures themselves
// overflow.
TCrossValidation CrossValidate(const TSkillSample& sample, std::int32_t method, double fa, std::int32_t leave = 1,
                               const TFoldProgress& progress = {});

}  // namespace quorlin
