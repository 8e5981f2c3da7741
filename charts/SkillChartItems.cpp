#include "charts/SkillChartItems.h"

#include <QtCharts/QLineSeries>
#include <QtGui/QFontMetrics>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

#include "support/Messages.h"

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
// makes at most `most` of them.
double RoundStep(double span, int most)
{
    const double base = std::pow(10.0, std::floor(std::log10(std::max(span / most, 1.0))));
    for (double factor : {1.0, 2.0, 5.0})
        if (span / (base * factor) <= most) return base * factor;
    return base * 10.0;
}

// As many ticks as the plot's width has room for, up to ten: each label with a gap of two digits
// beside it, so that no label is cut short in a narrow window.
void SpaceTicks(QValueAxis& x, qreal width)
{
    const QString widest = QString::number(std::max(std::fabs(x.min()), std::fabs(x.max())), 'f', 0);
    const int room = std::max(1, QFontMetrics(x.labelsFont()).horizontalAdvance(widest + QStringLiteral("00")));
    const double step = RoundStep(x.max() - x.min(), std::clamp(static_cast<int>(width / room), 2, 10));
    if (step != x.tickInterval()) x.setTickInterval(step);
}

void Attach(QChart& chart, QAbstractSeries* series, QValueAxis* x, QValueAxis* y)
{
    chart.addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
}

}  // namespace

// Little room around the plot: in a small window every pixel of height goes to the data.
std::unique_ptr<QChart> NewChart(const QString& title)
{
    auto chart = std::make_unique<QChart>();
    chart->setTitle(title);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

std::unique_ptr<QChart> MakeHindcastSeriesChart(const TSkillChartData& data)
{
    auto chart = NewChart(Text(data.YName) + QStringLiteral(" 实测、回代与交叉检验预报"));
    auto* x = Axis(data.Years ? QStringLiteral("年份") : QStringLiteral("记录序号"), PaddedRange({&data.Axis}), false);
    auto* y = Axis(Text(data.YName), PaddedRange({&data.Observed, &data.Fitted, &data.Hindcast}));
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0.0);
    x->setTickInterval(RoundStep(x->max() - x->min(), 10));
    x->setLabelFormat("%.0f");
    QObject::connect(chart.get(), &QChart::plotAreaChanged, x, [x](const QRectF& plot) { SpaceTicks(*x, plot.width()); });
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    Attach(*chart, Line(QStringLiteral("实测"), data.Axis, data.Observed, QColor(0x20, 0x20, 0x20), Qt::SolidLine), x, y);
    Attach(*chart, Line(QStringLiteral("回代"), data.Axis, data.Fitted, QColor(0x1f, 0x77, 0xb4), Qt::DashLine), x, y);
    const QString hindcast = data.Leave == 1 ? QStringLiteral("交叉检验预报（留一）")
                                             : QStringLiteral("交叉检验预报（每次留出 %1 条）").arg(data.Leave);
    Attach(*chart, Line(hindcast, data.Axis, data.Hindcast, QColor(0xd6, 0x27, 0x28), Qt::SolidLine), x, y);
    return chart;
}

std::unique_ptr<QChart> MakeHindcastScatterChart(const TSkillChartData& data)
{
    auto chart = NewChart(Text(data.YName) + QStringLiteral(" 交叉检验预报与实测"));
    const auto range = PaddedRange({&data.Observed, &data.Hindcast});
    // Short titles: the one beside the plot must fit its height in a small window.
    auto* x = Axis(QStringLiteral("实测 ") + Text(data.YName), range);
    auto* y = Axis(QStringLiteral("预报 ") + Text(data.YName), range);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);

    auto* equal = Line(QStringLiteral("预报 = 实测"), {range.first, range.second}, {range.first, range.second},
                       QColor(0x80, 0x80, 0x80), Qt::DotLine);
    Attach(*chart, equal, x, y);
    auto* points = new QScatterSeries;
    points->setName(QStringLiteral("交叉检验预报"));
    points->setMarkerSize(8.0);
    points->setColor(QColor(0xd6, 0x27, 0x28));
    points->setBorderColor(QColor(0xd6, 0x27, 0x28));
    for (std::size_t k = 0; k < data.Observed.size() && k < data.Hindcast.size(); ++k)
        points->append(data.Observed[k], data.Hindcast[k]);
    Attach(*chart, points, x, y);
    return chart;
}

void SetChartFont(QChart& chart, const QFont& font)
{
    QFont title = font;
    title.setBold(true);
    if (font.pixelSize() > 0) title.setPixelSize(font.pixelSize() + 1);
    chart.setTitleFont(title);
    chart.legend()->setFont(font);
    for (QAbstractAxis* axis : chart.axes()) {
        axis->setTitleFont(font);
        axis->setLabelsFont(font);
    }
}

}  // namespace quorlin
