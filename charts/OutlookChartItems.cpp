#include "charts/OutlookChartItems.h"

#include <QtCharts/QAreaSeries>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QLineSeries>
#include <QtCharts/QStackedBarSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>
#include <vector>

#include "charts/SkillChartItems.h"

namespace quorlin {

namespace {

// Blue for cold and dry, red for warm and wet, as the outlook maps colour them; grey between.
const QColor BelowColour(0x1f, 0x77, 0xb4);
const QColor NearColour(0x9a, 0x9a, 0x9a);
const QColor AboveColour(0xd6, 0x27, 0x28);

QValueAxis* Axis(const QString& title, double low, double high, const char* format)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setRange(low, high);
    axis->setLabelFormat(format);
    return axis;
}

void Attach(QChart& chart, QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y)
{
    chart.addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
}

QLineSeries* Line(const QString& name, QColor colour, Qt::PenStyle style, qreal width = 2.0)
{
    auto* series = new QLineSeries;
    series->setName(name);
    QPen pen(colour);
    pen.setWidthF(width);
    pen.setStyle(style);
    series->setPen(pen);
    return series;
}

QString Figure(double value) { return QString::number(value, 'g', 3); }

// A round step (1, 2 or 5 times a power of ten) that makes at most `most` ticks over the span.
double RoundTickStep(double span, int most)
{
    const double base = std::pow(10.0, std::floor(std::log10(span / most)));
    for (double factor : {1.0, 2.0, 5.0})
        if (span / (base * factor) <= most) return base * factor;
    return base * 10.0;
}

// As many bins as the square root of the runs suggests, never so few that the shape is lost nor
// so many that each holds a run or two.
int BinCount(std::size_t values) { return std::clamp(static_cast<int>(std::ceil(std::sqrt(double(values)))), 5, 30); }

}  // namespace

QString PercentText(double probability) { return QString::number(100.0 * probability, 'f', 0) + QStringLiteral("%"); }

std::unique_ptr<QChart> MakeTercileChart(const std::optional<TTercileProbabilities>& chances)
{
    // No title and no legend: the categories name the bars, and what room there is goes to them.
    auto chart = NewChart({});
    chart->legend()->hide();
    // Each category's bar in its own colour: a set per category, holding nothing in the others.
    auto* bars = new QStackedBarSeries;
    const std::pair<QString, QColor> kinds[] = {
        {QStringLiteral("偏低"), BelowColour}, {QStringLiteral("正常"), NearColour}, {QStringLiteral("偏高"), AboveColour}};
    const double values[] = {chances ? chances->Below : 0.0, chances ? chances->Near : 0.0,
                             chances ? chances->Above : 0.0};
    auto* x = new QBarCategoryAxis;
    for (int k = 0; k < 3; ++k) {
        auto* set = new QBarSet(kinds[k].first);
        set->setColor(kinds[k].second);
        set->setBorderColor(kinds[k].second);
        for (int c = 0; c < 3; ++c) set->append(c == k ? 100.0 * values[k] : 0.0);
        bars->append(set);
        x->append(kinds[k].first);
    }
    bars->setBarWidth(0.7);
    x->setGridLineVisible(false);
    auto* y = Axis({}, 0.0, 100.0, "%.0f%%");
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0.0);
    y->setTickInterval(25.0);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    Attach(*chart, bars, x, y);
    return chart;
}

std::unique_ptr<QChart> MakeReliabilityChart(const TProbabilityScores& scores)
{
    auto chart = NewChart(QStringLiteral("可靠性图（交叉检验）"));
    auto* x = Axis(QStringLiteral("预报概率"), 0.0, 1.0, "%.1f");
    auto* y = Axis(QStringLiteral("实况出现频率"), 0.0, 1.0, "%.1f");
    x->setTickCount(6);
    y->setTickCount(6);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto* diagonal = Line(QStringLiteral("完全可靠"), QColor(0x80, 0x80, 0x80), Qt::DotLine, 1.5);
    diagonal->append(0.0, 0.0);
    diagonal->append(1.0, 1.0);
    Attach(*chart, diagonal, x, y);
    const std::pair<const std::vector<TReliabilityBin>*, std::pair<QString, QColor>> events[] = {
        {&scores.ReliabilityBelow, {QStringLiteral("偏低"), BelowColour}},
        {&scores.ReliabilityAbove, {QStringLiteral("偏高"), AboveColour}}};
    for (const auto& [bins, kind] : events) {
        auto* series = Line(kind.first, kind.second, Qt::SolidLine);
        series->setPointsVisible(true);
        series->setMarkerSize(7.0);
        // An empty bin has no frequency: the line goes on to the next bin that has one.
        for (const TReliabilityBin& bin : *bins)
            if (bin.Observed) series->append((bin.Lower + bin.Upper) / 2.0, *bin.Observed);
        Attach(*chart, series, x, y);
    }
    return chart;
}

std::unique_ptr<QChart> MakeNullChart(const TNullFigure& figure, const QString& name)
{
    // The title says how the actual figure fared; the legend only which mark is which, so that
    // it fits a narrow chart.
    auto chart = NewChart(name + QStringLiteral("  p = ") + (figure.P ? Figure(*figure.P) : QStringLiteral("—")));
    std::vector<double> values;
    for (const std::optional<double>& v : figure.Null)
        if (v) values.push_back(*v);
    double low = values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
    double high = values.empty() ? 1.0 : *std::max_element(values.begin(), values.end());
    if (!(high > low)) {
        const double pad = std::max(0.05, 0.1 * std::fabs(low));
        low -= pad;
        high += pad;
    }
    const int binCount = BinCount(values.size());
    const double width = (high - low) / binCount;
    std::vector<int> counts(static_cast<std::size_t>(binCount), 0);
    for (double v : values)
        ++counts[static_cast<std::size_t>(std::clamp(static_cast<int>((v - low) / width), 0, binCount - 1))];
    const int tallest = std::max(1, *std::max_element(counts.begin(), counts.end()));

    // The actual figure may lie far out in the tail: the axis reaches it.
    double axisLow = low, axisHigh = high;
    for (const std::optional<double>& mark : {figure.Actual, figure.Q95})
        if (mark) {
            axisLow = std::min(axisLow, *mark);
            axisHigh = std::max(axisHigh, *mark);
        }
    const double pad = 0.04 * (axisHigh - axisLow);
    auto* x = Axis(name, axisLow - pad, axisHigh + pad, "%.2g");
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0.0);
    x->setTickInterval(RoundTickStep(x->max() - x->min(), 5));
    auto* y = Axis(QStringLiteral("次数"), 0.0, std::ceil(tallest * 1.15), "%.0f");
    y->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);

    // The histogram as one outline of steps, filled down to zero.
    auto* outline = new QLineSeries;
    outline->append(low, 0.0);
    for (int b = 0; b < binCount; ++b) {
        outline->append(low + b * width, counts[static_cast<std::size_t>(b)]);
        outline->append(low + (b + 1) * width, counts[static_cast<std::size_t>(b)]);
    }
    outline->append(high, 0.0);
    auto* area = new QAreaSeries(outline);
    // An area series draws its outline but does not own it.
    outline->setParent(area);
    area->setName(QStringLiteral("打乱"));
    area->setColor(QColor(0xa6, 0xc8, 0xe6));
    area->setBorderColor(QColor(0x4a, 0x7a, 0xa6));
    Attach(*chart, area, x, y);

    auto vertical = [&](const QString& label, double at, QColor colour, Qt::PenStyle style) {
        auto* line = Line(label, colour, style, 2.5);
        line->append(at, 0.0);
        line->append(at, y->max());
        Attach(*chart, line, x, y);
    };
    if (figure.Q95) vertical(QStringLiteral("95% 分位"), *figure.Q95, QColor(0x50, 0x50, 0x50), Qt::DashLine);
    if (figure.Actual) vertical(QStringLiteral("实际 ") + Figure(*figure.Actual), *figure.Actual, AboveColour, Qt::SolidLine);
    return chart;
}

}  // namespace quorlin
