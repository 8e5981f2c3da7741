#pragma once
// The two skill charts as Qt Charts objects, for a window to show or a file to be drawn from.

#include <QtCharts/QChart>

#include <memory>

#include "charts/SkillChart.h"

namespace quorlin {

// A chart with the title, its legend below the plot, and little room around: every chart of the
// check is drawn from one.
std::unique_ptr<QChart> NewChart(const QString& title);
// Observed, fitted and hindcast Y against the record axis.
std::unique_ptr<QChart> MakeHindcastSeriesChart(const TSkillChartData& data);
// Hindcast against observed, with the line on which they would be equal.
std::unique_ptr<QChart> MakeHindcastScatterChart(const TSkillChartData& data);
// Draws a chart's texts in the font of the window showing it (one with Chinese glyphs): the
// title a little larger and bold, the rest as given.
void SetChartFont(QChart& chart, const QFont& font);

}  // namespace quorlin
