#include "SkillChartItems.h"

#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

#include "../support/Messages.h"

namespace quorlin {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QLineSeries* Line(const QString& name, const std::vector<double>& x, const std::vector<double>& y, QColor colour,
                  Qt::PenStyle style)
{
    auto* series = new QLineSeries;
    series->setName(name);
    for (std::size_t k = 0; k < x.size() && k < y.size(); ++k) series->append(x[k], y[k]);
    QPen pen(colour);
    pen.setWidthF(2.0);
    pen.setStyle(style);
    series->setPen(pen);
    return series;
}

// A range that holds every value with a little room, and some width when all are equal.
std::pair<double, double> PaddedRange(std::initializer_list<const std::vector<double>*> columns)
{
    double low = INFINITY, high = -INFINITY;
    for (const auto* column : columns)
        for (double v : *column) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    if (!(low <= high)) return {0.0, 1.0};
    const double pad = high > low ? 0.05 * (high - low) : std::max(1.0, std::fabs(low) * 0.05);
    return {low - pad, high + pad};
}

// Values get round tick marks; records and years keep their own range, so the lines fill the
// chart's width.
QValueAxis* Axis(const QString& title, std::pair<double, double> range, bool nice = true)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setRange(range.first, range.second);
    if (nice) axis->applyNiceNumbers();
    return axis;
}

// Ticks on round years or record numbers: a whole step of 1, 2 or 5 times a power of ten that
// makes at most ten of them.
double RoundStep(double span)
{
    const double base = std::pow(10.0, std::floor(std::log10(std::max(span / 10.0, 1.0))));
    for (double factor : {1.0, 2.0, 5.0})
        if (span / (base * factor) <= 10.0) return base * factor;
    return base * 10.0;
}

void Attach(QChart& chart, QAbstractSeries* series, QValueAxis* x, QValueAxis* y)
{
    chart.addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
}

}  // namespace

std::unique_ptr<QChart> MakeHindcastSeriesChart(const TSkillChartData& data)
{
    auto chart = std::make_unique<QChart>();
    chart->setTitle(Text(Format(Tr("%1$s: observed, fitted and cross-validated"), data.YName)));
    auto* x = Axis(Text(data.AxisTitle), PaddedRange({&data.Axis}), false);
    auto* y = Axis(Text(data.YName), PaddedRange({&data.Observed, &data.Fitted, &data.Hindcast}));
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0.0);
    x->setTickInterval(RoundStep(x->max() - x->min()));
    x->setLabelFormat("%.0f");
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    Attach(*chart, Line(Text(Tr("observed")), data.Axis, data.Observed, QColor(0x20, 0x20, 0x20), Qt::SolidLine), x, y);
    Attach(*chart, Line(Text(Tr("fitted")), data.Axis, data.Fitted, QColor(0x1f, 0x77, 0xb4), Qt::DashLine), x, y);
    const QString hindcast = Text(data.Leave == 1 ? std::string(Tr("hindcast (leave one out)"))
                                                  : Format(Tr("hindcast (leave %1$s out)"), data.Leave));
    Attach(*chart, Line(hindcast, data.Axis, data.Hindcast, QColor(0xd6, 0x27, 0x28), Qt::SolidLine), x, y);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

std::unique_ptr<QChart> MakeHindcastScatterChart(const TSkillChartData& data)
{
    auto chart = std::make_unique<QChart>();
    chart->setTitle(Text(Tr("hindcast against observed")));
    const auto range = PaddedRange({&data.Observed, &data.Hindcast});
    auto* x = Axis(Text(Format(Tr("observed %1$s"), data.YName)), range);
    auto* y = Axis(Text(Format(Tr("hindcast %1$s"), data.YName)), range);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);

    auto* equal = Line(Text(Tr("hindcast = observed")), {range.first, range.second}, {range.first, range.second},
                       QColor(0x80, 0x80, 0x80), Qt::DotLine);
    Attach(*chart, equal, x, y);
    auto* points = new QScatterSeries;
    points->setName(Text(Tr("records")));
    points->setMarkerSize(8.0);
    points->setColor(QColor(0xd6, 0x27, 0x28));
    points->setBorderColor(QColor(0xd6, 0x27, 0x28));
    for (std::size_t k = 0; k < data.Observed.size() && k < data.Hindcast.size(); ++k)
        points->append(data.Observed[k], data.Hindcast[k]);
    Attach(*chart, points, x, y);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

}  // namespace quorlin
