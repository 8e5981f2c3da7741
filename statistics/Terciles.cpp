#include "statistics/Terciles.h"

#include <algorithm>
#include <numeric>

#include "statistics/SkillError.h"
#include "support/Messages.h"

namespace quorlin {

const char* CategoryKey(TCategory category) noexcept
{
    switch (category) {
    case TCategory::Below:
        return "below";
    case TCategory::Near:
        return "near";
    case TCategory::Above:
        return "above";
    }
    return "near";
}

TCategory CategoryOf(double value, const TTerciles& terciles) noexcept
{
    if (value < terciles.Lower) return TCategory::Below;
    if (value > terciles.Upper) return TCategory::Above;
    return TCategory::Near;
}

TTerciles Terciles(std::span<const double> values)
{
    if (values.empty()) throw ESkillError(Tr("A sample without values has no terciles"));
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    return SortedTerciles([&](std::int32_t k) { return sorted[static_cast<std::size_t>(k)]; },
                          static_cast<std::int32_t>(sorted.size()));
}

TOrderedValues::TOrderedValues(std::span<const double> values) : FSorted(values.begin(), values.end()), FRanks(values.size())
{
    std::vector<std::int32_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
        return values[static_cast<std::size_t>(a)] < values[static_cast<std::size_t>(b)];
    });
    for (std::size_t position = 0; position < order.size(); ++position) {
        FSorted[position] = values[static_cast<std::size_t>(order[position])];
        FRanks[static_cast<std::size_t>(order[position])] = static_cast<std::int32_t>(position);
    }
}

TTerciles TOrderedValues::TercilesWithout(std::span<const std::int32_t> removedRanks) const
{
    // The k-th kept value is k positions in, moved on past every removed position it reaches.
    auto nth = [&](std::int32_t k) {
        std::int32_t position = k;
        for (std::int32_t removed : removedRanks) {
            if (removed > position) break;
            ++position;
        }
        return FSorted[static_cast<std::size_t>(position)];
    };
    return SortedTerciles(nth, static_cast<std::int32_t>(FSorted.size() - removedRanks.size()));
}

}  // namespace quorlin
