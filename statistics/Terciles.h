#pragma once
// The terciles of a sample of Y, which split its values into three equally likely categories:
// below normal, near normal and above normal.
//
// With the values sorted, y(1) <= ... <= y(n), the p-quantile sits at position h = p·(n + 1):
// y(1) when h <= 1, y(n) when h >= n, and between y(⌊h⌋) and y(⌊h⌋ + 1) in proportion
// otherwise. p is taken as a fraction of whole numbers so that the position is exact: 1/3 as a
// double would put h = (n + 1)/3 a hair below a whole number and read the wrong neighbour.

#include <cstdint>
#include <span>
#include <vector>

#include "numeric/FloatError.h"

namespace quorlin {

enum class TCategory : std::int32_t { Below = 0, Near = 1, Above = 2 };

struct TTerciles {
    double Lower = 0.0;
    double Upper = 0.0;
};

// "below", "near" or "above": the words of the JSON output.
const char* CategoryKey(TCategory category) noexcept;

// Below when value < Lower, above when value > Upper, near otherwise.
TCategory CategoryOf(double value, const TTerciles& terciles) noexcept;

// The (numerator/denominator)-quantile of count sorted values, nth(k) giving the k-th smallest
// (0-based). count must be at least 1.
template <class TNth>
double SortedQuantile(TNth&& nth, std::int32_t count, std::int32_t numerator, std::int32_t denominator)
{
    const std::int64_t scaled = std::int64_t{numerator} * (count + 1);
    const std::int64_t whole = scaled / denominator;
    if (whole < 1) return nth(0);
    if (whole >= count) return nth(count - 1);
    const Extended low = nth(static_cast<std::int32_t>(whole - 1));
    const Extended high = nth(static_cast<std::int32_t>(whole));
    const Extended fraction = static_cast<Extended>(scaled % denominator) / denominator;
    return checked::Store(low + fraction * (high - low));
}

template <class TNth>
TTerciles SortedTerciles(TNth&& nth, std::int32_t count)
{
    return {SortedQuantile(nth, count, 1, 3), SortedQuantile(nth, count, 2, 3)};
}

// The terciles of values in any order; raises ESkillError when there are none.
TTerciles Terciles(std::span<const double> values);

// The values of a sample sorted once, from which the terciles of the sample without a few of
// its records are read without sorting again: a fold's training records, or the records of a
// permuted Y that a fold keeps.
class TOrderedValues {
public:
    explicit TOrderedValues(std::span<const double> values);

    // The position of record k's value in the sorted order; records with equal values get
    // distinct positions.
    std::int32_t Rank(std::int32_t record) const { return FRanks[static_cast<std::size_t>(record)]; }
    // The terciles of the values left once the values at the given positions are taken out;
    // removedRanks must be sorted ascending and leave at least one value.
    TTerciles TercilesWithout(std::span<const std::int32_t> removedRanks) const;

private:
    std::vector<double> FSorted;
    std::vector<std::int32_t> FRanks;
};

}  // namespace quorlin
