#include "statistics/FoldMoments.h"

#include "support/Messages.h"

namespace quorlin {

namespace {

// Means and centred sums of the records of columns outside first..last, summed directly: the
// mean is corrected by the mean deviation from it (the second pass), then the products of the
// deviations are summed.
void SumDirectly(const std::vector<const double*>& columns, std::int32_t count, std::int32_t first,
                 std::int32_t last, TMoments& out)
{
    const std::size_t width = columns.size();
    out.Count = count - (last - first + 1);
    out.Means.assign(width, 0.0L);
    out.Sums.assign(width * width, 0.0L);
    auto forKept = [&](auto&& work) {
        for (std::int32_t k = 0; k < count; ++k)
            if (k < first || k > last) work(static_cast<std::size_t>(k));
    };
    const Extended n = out.Count;
    for (std::size_t a = 0; a < width; ++a) {
        Extended sum = 0;
        forKept([&](std::size_t k) { sum += columns[a][k]; });
        Extended mean = sum / n;
        Extended correction = 0;
        forKept([&](std::size_t k) { correction += columns[a][k] - mean; });
        out.Means[a] = mean + correction / n;
    }
    std::vector<Extended> d(width);
    forKept([&](std::size_t k) {
        for (std::size_t a = 0; a < width; ++a) d[a] = columns[a][k] - out.Means[a];
        for (std::size_t a = 0; a < width; ++a)
            for (std::size_t b = a; b < width; ++b) out.Sums[a * width + b] += d[a] * d[b];
    });
}

}  // namespace

TFoldMoments::TFoldMoments(const TSkillSample& sample) : FSample(sample)
{
    for (std::int32_t i = 0; i <= sample.FactorCount(); ++i) FColumns.push_back(sample.Column(i).data());
    SumDirectly(FColumns, sample.RecordCount(), 0, -1, FFull);
}

bool TFoldMoments::Without(std::int32_t first, std::int32_t last, TMoments& out) const
{
    if (!Downdate(first, last, out)) return false;
    Recount(first, last, out);
    return true;
}

double TrainingMean(Extended fullMean, std::int32_t count, std::span<const double> y, std::int32_t first,
                    std::int32_t last)
{
    Extended removed = 0;
    for (std::int32_t k = first; k <= last; ++k) removed += y[static_cast<std::size_t>(k)] - fullMean;
    const Extended kept = count - (last - first + 1);
    return checked::Store(fullMean - removed / kept);
}

bool TFoldMoments::Downdate(std::int32_t first, std::int32_t last, TMoments& out) const
{
    const std::size_t width = FColumns.size();
    out.Count = FFull.Count - (last - first + 1);
    out.Means = FFull.Means;
    out.Sums = FFull.Sums;
    std::vector<Extended> total(width, 0.0L), d(width);
    for (auto k = static_cast<std::size_t>(first); k <= static_cast<std::size_t>(last); ++k) {
        for (std::size_t a = 0; a < width; ++a) {
            d[a] = FColumns[a][k] - FFull.Means[a];
            total[a] += d[a];
        }
        for (std::size_t a = 0; a < width; ++a) {
            Extended* row = &out.Sums[a * width];
            for (std::size_t b = a; b < width; ++b) row[b] -= d[a] * d[b];
        }
    }
    const Extended n = out.Count;
    bool cancelled = false;
    for (std::size_t a = 0; a < width; ++a) {
        out.Means[a] -= total[a] / n;
        Extended* row = &out.Sums[a * width];
        for (std::size_t b = a; b < width; ++b) row[b] -= total[a] * total[b] / n;
        cancelled = cancelled || !(row[a] > CancellationLimit * FFull.Sums[a * width + a]);
    }
    return cancelled;
}

void TFoldMoments::Recount(std::int32_t first, std::int32_t last, TMoments& out) const
{
    const auto count = static_cast<std::size_t>(FSample.RecordCount());
    for (std::size_t a = 0; a < FColumns.size(); ++a) {
        // The first kept record, and whether any other kept record differs from it.
        const std::size_t start = first == 0 ? static_cast<std::size_t>(last) + 1 : 0;
        bool varies = false;
        for (std::size_t k = start; k < count && !varies; ++k)
            varies = (k < static_cast<std::size_t>(first) || k > static_cast<std::size_t>(last)) &&
                     FColumns[a][k] != FColumns[a][start];
        if (!varies) {
            const bool isY = a + 1 == FColumns.size();
            throw EFoldFailed(isY ? Format(Tr("Y '%1$s' is constant in the records kept"), FSample.YName())
                                  : Format(Tr("Factor '%1$s' is constant in the records kept"), FSample.FactorNames()[a]));
        }
    }
    SumDirectly(FColumns, FSample.RecordCount(), first, last, out);
}

}  // namespace quorlin
