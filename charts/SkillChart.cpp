#include "charts/SkillChart.h"

#include <QtCore/QBuffer>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtSvg/QSvgGenerator>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGraphicsScene>

#include <memory>
#include <vector>

#include "support/AsciiText.h"
#include "support/FileWrite.h"
#include "support/Messages.h"
#include "support/ReportTarget.h"
#include "charts/OutlookChartItems.h"
#include "charts/SkillChartItems.h"

namespace quorlin {

namespace {

constexpr int SeriesWidth = 900;
constexpr int ScatterWidth = 520;
constexpr int Width = SeriesWidth + ScatterWidth;
constexpr int Height = 520;
// The outlook's row: the reliability diagram square as the scatter, the null distributions
// sharing the rest of the width (all of it without the diagram).
constexpr int ReliabilityWidth = ScatterWidth;
constexpr int OutlookHeight = 460;

// Charts are graphics widgets and need an application object. A program without one (the
// batch command) gets one for the drawing, on the offscreen platform: the picture goes to a
// file, so no display is wanted even where there is one.
// Qt's own notices while it sets up for the drawing (such as a missing runtime folder) are no
// concern of a script reading our messages, so they are dropped while the application lives.
class TDrawingApplication {
public:
    TDrawingApplication()
    {
        if (QCoreApplication::instance()) return;
        FPreviousHandler = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        FApplication = std::make_unique<QApplication>(FArgc, FArgv);
        RestoreProgramLocale();
    }
    ~TDrawingApplication()
    {
        if (!FApplication) return;
        FApplication.reset();
        qInstallMessageHandler(FPreviousHandler);
    }
    TDrawingApplication(const TDrawingApplication&) = delete;
    TDrawingApplication& operator=(const TDrawingApplication&) = delete;

private:
    int FArgc = 3;
    char FName[14] = "quorlin-batch";
    char FPlatformOption[10] = "-platform";
    char FPlatform[10] = "offscreen";
    char* FArgv[4] = {FName, FPlatformOption, FPlatform, nullptr};
    QtMessageHandler FPreviousHandler = nullptr;
    std::unique_ptr<QApplication> FApplication;
};

// The platform's default font draws Chinese through a fallback that mangles rotated axis titles:
// a font with Chinese glyphs of its own is asked for first.
QFont DrawingFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("SimSun")});
    font.setPixelSize(14);
    return font;
}

enum class TFormat { Svg, Png };

TFormat FormatOf(const std::string& path)
{
    const std::string lower = LowerAscii(path);
    auto endsWith = [&](const std::string& ext) {
        return lower.size() >= ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
    };
    if (endsWith(".svg")) return TFormat::Svg;
    if (endsWith(".png")) return TFormat::Png;
    throw EChartError(Format(Tr("A plot is written as .svg or .png, not as '%1$s'"), path));
}

void Draw(QGraphicsScene& scene, QPaintDevice& device, int height)
{
    QPainter painter;
    if (!painter.begin(&device)) throw EChartError(Tr("Cannot draw the charts"));
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(0, 0, Width, height), scene.sceneRect());
    painter.end();
}

struct TPlaced {
    std::unique_ptr<QChart> Chart;
    QRectF Place;
};

// Every chart the data has, where it goes in the picture; the first row as it always was.
std::vector<TPlaced> Layout(const TSkillChartData& data, int& height)
{
    std::vector<TPlaced> charts;
    charts.push_back({MakeHindcastSeriesChart(data), QRectF(0, 0, SeriesWidth, Height)});
    charts.push_back({MakeHindcastScatterChart(data), QRectF(SeriesWidth, 0, ScatterWidth, Height)});
    height = Height;
    std::vector<std::pair<const TNullFigure*, QString>> figures;
    if (data.Null) {
        figures.emplace_back(&data.Null->Correlation, QStringLiteral("相关系数"));
        figures.emplace_back(&data.Null->Msss, QStringLiteral("MSSS"));
        if (data.Null->Rpss) figures.emplace_back(&*data.Null->Rpss, QStringLiteral("RPSS"));
    }
    if (!data.Outlook && figures.empty()) return charts;
    int x = 0;
    if (data.Outlook) {
        charts.push_back({MakeReliabilityChart(*data.Outlook), QRectF(0, Height, ReliabilityWidth, OutlookHeight)});
        x = ReliabilityWidth;
    }
    const double share = figures.empty() ? 0.0 : double(Width - x) / double(figures.size());
    for (std::size_t k = 0; k < figures.size(); ++k)
        charts.push_back({MakeNullChart(*figures[k].first, figures[k].second),
                          QRectF(x + share * double(k), Height, share, OutlookHeight)});
    height = Height + OutlookHeight;
    return charts;
}

QByteArray Render(const TSkillChartData& data, TFormat format)
{
    int height = Height;
    std::vector<TPlaced> charts = Layout(data, height);
    QGraphicsScene scene(0, 0, Width, height);
    scene.setBackgroundBrush(Qt::white);
    for (TPlaced& placed : charts) {
        // The scene owns the charts once they are added.
        QChart* chart = placed.Chart.release();
        SetChartFont(*chart, DrawingFont());
        scene.addItem(chart);
        chart->setGeometry(placed.Place);
    }
    // Lets the charts lay out their plot areas and axes before they are drawn.
    QCoreApplication::processEvents();

    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (format == TFormat::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(QSize(Width, height));
        svg.setViewBox(QRect(0, 0, Width, height));
        svg.setTitle(QString::fromStdString(data.YName) + QStringLiteral(" 交叉检验预报"));
        Draw(scene, svg, height);
    } else {
        QImage image(Width, height, QImage::Format_ARGB32);
        image.fill(Qt::white);
        Draw(scene, image, height);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG")) throw EChartError(Tr("Cannot encode the charts as PNG"));
    }
    if (bytes.isEmpty()) throw EChartError(Tr("Drawing the charts gave no picture"));
    return bytes;
}

}  // namespace

void SaveSkillChart(const TSkillChartData& data, const std::string& path, const std::string& sourcePath)
{
    const TFormat format = FormatOf(path);
    CheckReportTarget(path, sourcePath);
    QByteArray bytes;
    {
        TDrawingApplication application;
        bytes = Render(data, format);
    }
    try {
        ReplaceFileContents(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                            TReplaceOptions{{}, {}, ReportTargetJudge(path, sourcePath)});
    } catch (const EFileWriteError& e) {
        throw EChartError(Format(Tr("Cannot write plot '%1$s': %2$s"), path, e.what()));
    }
}

}  // namespace quorlin
