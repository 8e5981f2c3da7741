#pragma once
// The charts of the tercile outlook as Qt Charts objects, for the check window to show or a plot
// file to be drawn from: a case's three chances, the reliability of the hindcasts' chances, and
// a skill figure set against what screening shuffled Y finds.

#include <QtCharts/QChart>

#include <memory>
#include <optional>

#include "statistics/ProbabilityScores.h"
#include "statistics/ScreeningNull.h"
#include "statistics/TercileProbabilities.h"

namespace quorlin {

// The three chances as bars in percent over the categories 偏低, 正常 and 偏高, each in its own
// colour; without a case, the bars are empty.
std::unique_ptr<QChart> MakeTercileChart(const std::optional<TTercileProbabilities>& chances);
// Observed frequency against forecast probability for below and for above, one point per
// bin that holds forecasts, beside the diagonal of perfect reliability.
std::unique_ptr<QChart> MakeReliabilityChart(const TProbabilityScores& scores);
// The histogram of the figure's determined null values, the actual figure and the null's 95th
// percentile marked on it; name is how the figure is called (相关系数, MSSS, RPSS).
std::unique_ptr<QChart> MakeNullChart(const TNullFigure& figure, const QString& name);

// A percentage as the window prints it: whole percents, as an outlook gives its chances.
QString PercentText(double probability);

}  // namespace quorlin
