#pragma once
// The means and centred sums of squares and products of every column of a sample (the factors
// and Y), and those of the sample without a run of consecutive records, taken out of the sums
// instead of summing the kept records again.
//
// Taking records out is exact in algebra: with d the removed records' deviations from the full
// means, D their sum and n' the records kept,
//     mean' = mean - D / n',   C' = C - sum of d d' - D D' / n'.
// In arithmetic the subtraction cancels where a column's kept records vary little compared
// with the removed ones. The sums are therefore kept in extended precision, and a column whose
// sum of squares falls to a millionth of what it was makes the fold's moments be summed again
// from the kept records. A column whose kept records are all equal makes the fold
// uncomputable (EFoldFailed), as its correlations would be 0/0.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "numeric/FloatError.h"
#include "statistics/SkillSample.h"

namespace quorlin {

class EFoldFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The kept share of a column's sum of squares below which its downdate is not trusted: the
// extended sums carry about 19 digits, so at a millionth some 13 are left.
inline constexpr Extended CancellationLimit = 1e-6L;

struct TMoments {
    std::int32_t Count = 0;
    std::vector<Extended> Means;  // by column, Y last
    std::vector<Extended> Sums;   // (m + 1) x (m + 1), row by row; only j >= i is kept up to date

    Extended Sum(std::size_t i, std::size_t j) const { return i <= j ? Sums[i * Means.size() + j] : Sums[j * Means.size() + i]; }
};

class TFoldMoments {
public:
    explicit TFoldMoments(const TSkillSample& sample);

    const TMoments& Full() const noexcept { return FFull; }
    // The moments of the records outside first..last (0-based, inclusive) into out, whose
    // storage is reused from fold to fold; true when they had to be summed again. Raises
    // EFoldFailed as said above.
    bool Without(std::int32_t first, std::int32_t last, TMoments& out) const;

private:
    // Whether any column lost too many digits to cancellation.
    bool Downdate(std::int32_t first, std::int32_t last, TMoments& out) const;
    void Recount(std::int32_t first, std::int32_t last, TMoments& out) const;

    const TSkillSample& FSample;
    std::vector<const double*> FColumns;
    TMoments FFull;
};

// Y's mean over the records outside first..last, from the mean of all count records so that
// nothing cancels.
double TrainingMean(Extended fullMean, std::int32_t count, std::span<const double> y, std::int32_t first,
                    std::int32_t last);

}  // namespace quorlin
