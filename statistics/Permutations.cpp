#include "statistics/Permutations.h"

#include <numeric>
#include <utility>

namespace quorlin {

TPermutations::TPermutations(std::uint64_t seed, std::int32_t count)
    : FGenerator(seed), FOrder(static_cast<std::size_t>(count))
{
}

const std::vector<std::int32_t>& TPermutations::Next()
{
    std::iota(FOrder.begin(), FOrder.end(), 0);
    for (std::size_t i = FOrder.size(); i > 1; --i) std::swap(FOrder[i - 1], FOrder[Below(i)]);
    return FOrder;
}

std::uint64_t TPermutations::Below(std::uint64_t bound)
{
    // 2^64 mod bound raw values at the bottom are the surplus; beyond them every residue is
    // reached equally often.
    const std::uint64_t surplus = (0 - bound) % bound;
    for (;;) {
        const std::uint64_t draw = FGenerator();
        if (draw >= surplus) return draw % bound;
    }
}

}  // namespace quorlin
