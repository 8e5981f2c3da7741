#include "ui/SkillForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QDoubleValidator>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtCharts/QChartView>

#include <algorithm>
#include <climits>
#include <cmath>

#include "ui/EquationView.h"
#include "ui/OddSpinBox.h"
#include "charts/OutlookChartItems.h"
#include "charts/SkillChartItems.h"
#include "data/provider/CustomerData.h"
#include "data/windows/QtUserInterface.h"
#include "statistics/SkillError.h"
#include "statistics/SkillSample.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

// Small enough for the whole window, frame and task bar included, to fit a 1024×768 screen;
// below it a chart has no room left for its plot.
constexpr int ChartMinimumWidth = 360;
constexpr int ChartMinimumHeight = 240;
// The outlook's charts share their tab four ways; it scrolls when they cannot have this much.
constexpr int SmallChartMinimumWidth = 220;
constexpr int SmallChartMinimumHeight = 170;
// Runs of the null test before the user says otherwise: enough for p down to 0.005, done in a
// moment on a station's record.
constexpr int DefaultNullRuns = 200;
// How long the null test computes before the window answers the user again: short enough for
// a cancel to feel immediate, long enough for the computation to keep its pace.
constexpr qint64 NullAnswerMilliseconds = 40;
// The size first offered on a large screen; a smaller screen gets what it has room for.
constexpr QSize ComfortableSize(1440, 900);

QString Number(double value, int digits = 6) { return QString::number(value, 'g', digits); }

// A figure the records cannot determine shows as a dash, never as a made-up number.
QString Number(const std::optional<double>& value, int digits = 6)
{
    return value ? Number(*value, digits) : QStringLiteral("—");
}

QTableWidget* MakeTable(const char* name, const QStringList& titles)
{
    auto* table = new QTableWidget(0, static_cast<int>(titles.size()));
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(titles);
    table->verticalHeader()->setVisible(false);
    // Rows as tall as a line of text, so that as many figures as possible are seen at once.
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells)
{
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        // Names read from the left, numbers from the right, as in the grid.
        item->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : (Qt::AlignRight | Qt::AlignVCenter));
        table->setItem(row, c, item);
    }
}

QChartView* MakeChartView(const char* name)
{
    auto* view = new QChartView;
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(ChartMinimumWidth, ChartMinimumHeight);
    return view;
}

// The view owns the chart it shows, but lets go of the one it showed before.
void ShowChart(QChartView* view, std::unique_ptr<QChart> chart, const QFont& font)
{
    SetChartFont(*chart, font);
    const std::unique_ptr<QChart> previous(view->chart());
    view->setChart(chart.release());
}

}  // namespace

TSkillForm::TSkillForm(TUserInterface& ui, QWidget* parent) : QWidget(parent), FUi(ui)
{
    setObjectName("SkillForm");
    setWindowTitle(QStringLiteral("预报检验"));
    setWindowFlag(Qt::Window);
    // Closing the main window ends the program even while the check is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(ChineseFont());
    Build();
    // The window manager's frame and the task bar take some of the screen's free room.
    const QSize room = screen()->availableGeometry().size() - QSize(16, 40);
    resize(ComfortableSize.boundedTo(room).expandedTo(minimumSizeHint()));
}

TSkillForm::~TSkillForm() = default;

void TSkillForm::Build()
{
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName("StatusLabel");
    StatusLabel->setStyleSheet(QStringLiteral("QLabel { background: #fff4ce; color: #5a4000; padding: 3px; }"));
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long reason is cut at the window's edge rather than widening the window; the tip has it whole.
    StatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    StatusLabel->hide();

    EquationView = new TEquationView(this);
    EquationView->setObjectName("EquationView");

    LeaveEdit = new TOddSpinBox(this);
    LeaveEdit->setObjectName("LeaveEdit");
    LeaveEdit->setValue(1);
    LeaveEdit->setToolTip(QStringLiteral("每次留出以被预报记录为中心的 K 条记录 (K 为奇数)"));
    connect(LeaveEdit, &QSpinBox::valueChanged, this, [this] { Recompute(); });

    SavePictureButton = new QPushButton(QStringLiteral("保存图片"), this);
    SavePictureButton->setObjectName("SavePictureButton");
    connect(SavePictureButton, &QPushButton::clicked, this, [this] {
        try {
            SavePictureClick();
        } catch (const std::exception& e) {
            FUi.ShowError(e.what());
        }
    });

    auto* leaveRow = new QHBoxLayout;
    leaveRow->addWidget(new QLabel(QStringLiteral("交叉检验每次留出记录数 K:"), this));
    leaveRow->addWidget(LeaveEdit);
    leaveRow->addStretch();
    leaveRow->addWidget(SavePictureButton);

    auto* left = new QSplitter(Qt::Vertical);
    left->addWidget(BuildTables());
    left->addWidget(BuildCaseEntry());
    auto* panes = new QSplitter(Qt::Horizontal);
    panes->addWidget(left);
    ChartTabs = new QTabWidget;
    ChartTabs->setObjectName("ChartTabs");
    ChartTabs->addTab(BuildCharts(), QStringLiteral("检验图"));
    ChartTabs->addTab(BuildOutlook(), QStringLiteral("概率预报"));
    panes->addWidget(ChartTabs);
    // Shares of the room, kept as the window is resized: the tables need width for their
    // figures, the charts the rest.
    left->setChildrenCollapsible(false);
    left->setStretchFactor(0, 3);
    left->setStretchFactor(1, 2);
    left->setSizes({550, 450});
    panes->setChildrenCollapsible(false);
    panes->setStretchFactor(0, 2);
    panes->setStretchFactor(1, 3);
    panes->setSizes({400, 600});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StatusLabel);
    layout->addWidget(EquationView);
    layout->addLayout(leaveRow);
    layout->addWidget(panes, 1);
    EnableNullTest();
}

QWidget* TSkillForm::BuildTables()
{
    FigureTable = MakeTable("FigureTable", {QStringLiteral("指标"), QStringLiteral("数值")});
    CoefficientTable = MakeTable("CoefficientTable",
                                 {QStringLiteral("因子"), QStringLiteral("系数 b"), QStringLiteral("标准误差"),
                                  QStringLiteral("t"), QStringLiteral("p"), QStringLiteral("VIF"),
                                  QStringLiteral("入选折数")});
    StepTable = MakeTable("StepTable", {QStringLiteral("步骤"), QStringLiteral("因子"), QStringLiteral("V"),
                                        QStringLiteral("F"), QStringLiteral("Q'")});
    // The skill first: it is what the check is opened for.
    Tables = new QTabWidget;
    Tables->setObjectName("Tables");
    Tables->addTab(FigureTable, QStringLiteral("预报技巧"));
    Tables->addTab(CoefficientTable, QStringLiteral("回归系数"));
    Tables->addTab(StepTable, QStringLiteral("逐步过程"));
    return Tables;
}

QWidget* TSkillForm::BuildCharts()
{
    SeriesView = MakeChartView("SeriesView");
    ScatterView = MakeChartView("ScatterView");
    Charts = new QSplitter(Qt::Vertical);
    Charts->setObjectName("Charts");
    Charts->addWidget(SeriesView);
    Charts->addWidget(ScatterView);
    Charts->setChildrenCollapsible(false);
    return Charts;
}

QWidget* TSkillForm::BuildCaseEntry()
{
    auto* box = new QGroupBox(QStringLiteral("预报"));
    // Forty factors take forty rows: they scroll, the level and the forecast stay in sight.
    auto* entries = new QWidget;
    CaseLayout = new QFormLayout(entries);
    // A number needs no more width than an entry offers by itself.
    CaseLayout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    CaseArea = new QScrollArea;
    CaseArea->setObjectName("CaseArea");
    CaseArea->setWidget(entries);
    CaseArea->setWidgetResizable(true);
    CaseArea->setFrameShape(QFrame::NoFrame);

    LevelEdit = new QDoubleSpinBox;
    LevelEdit->setObjectName("LevelEdit");
    LevelEdit->setRange(50.0, 99.9);
    LevelEdit->setDecimals(1);
    LevelEdit->setValue(95.0);
    LevelEdit->setSuffix(QStringLiteral(" %"));
    connect(LevelEdit, &QDoubleSpinBox::valueChanged, this, [this] { CaseChanged(); });
    ForecastLabel = new QLabel;
    ForecastLabel->setObjectName("ForecastLabel");
    ForecastLabel->setWordWrap(true);
    ForecastLabel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    ForecastLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* levelRows = new QFormLayout;
    // The level at its own width; the forecast, or why there is none, as wide as there is room.
    levelRows->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    levelRows->addRow(QStringLiteral("置信水平"), LevelEdit);
    levelRows->addRow(QStringLiteral("预报值"), ForecastLabel);

    auto* layout = new QVBoxLayout(box);
    layout->addWidget(CaseArea, 1);
    layout->addLayout(levelRows);
    return box;
}

QWidget* TSkillForm::BuildOutlook()
{
    ChanceView = MakeChartView("ChanceView");
    ChanceView->setMinimumSize(SmallChartMinimumWidth, SmallChartMinimumHeight);
    ChanceLabel = new QLabel;
    ChanceLabel->setObjectName("ChanceLabel");
    ChanceLabel->setAlignment(Qt::AlignCenter);
    ChanceLabel->setWordWrap(true);
    NormalLabel = new QLabel;
    NormalLabel->setObjectName("NormalLabel");
    NormalLabel->setAlignment(Qt::AlignCenter);
    NormalLabel->setWordWrap(true);
    NormalLabel->setToolTip(QStringLiteral("全部记录 Y 的三分位数：低于下三分位数为偏低，高于上三分位数为偏高，其余为正常"));
    auto* chances = new QWidget;
    auto* chanceLayout = new QVBoxLayout(chances);
    chanceLayout->setContentsMargins(0, 0, 0, 0);
    chanceLayout->addWidget(ChanceView, 1);
    chanceLayout->addWidget(ChanceLabel);
    chanceLayout->addWidget(NormalLabel);

    OutlookTable = MakeTable("OutlookTable", {QStringLiteral("指标"), QStringLiteral("交叉检验"),
                                              QStringLiteral("回溯预报"), QStringLiteral("p 值")});
    // Its columns as wide as their figures, all of them in sight (below); none stretched wider.
    OutlookTable->horizontalHeader()->setStretchLastSection(false);
    OutlookTable->horizontalHeaderItem(1)->setToolTip(
        QStringLiteral("每折用留下的记录重新筛选因子、建立方程，预报留出的记录；概率的三分位数也取自留下的记录"));
    OutlookTable->horizontalHeaderItem(3)->setToolTip(
        QStringLiteral("打乱 Y 后重做整个交叉检验（含逐步筛选），技巧达到实际值的概率；越小越不像是筛选噪声的结果"));

    ReliabilityView = MakeChartView("ReliabilityView");
    ReliabilityView->setMinimumSize(SmallChartMinimumWidth, SmallChartMinimumHeight);
    ReliabilityView->setToolTip(
        QStringLiteral("交叉检验各次预报按其概率分为十档，每档中事件实际出现的频率；点越靠近对角线，概率越可信"));

    auto* top = new QSplitter(Qt::Horizontal);
    top->addWidget(chances);
    top->addWidget(OutlookTable);
    top->setChildrenCollapsible(false);
    top->setStretchFactor(0, 1);
    top->setStretchFactor(1, 0);
    auto* bottom = new QSplitter(Qt::Horizontal);
    bottom->addWidget(ReliabilityView);
    bottom->addWidget(BuildNullTest());
    bottom->setChildrenCollapsible(false);
    bottom->setStretchFactor(0, 1);
    bottom->setStretchFactor(1, 1);
    bottom->setSizes({500, 500});
    auto* outlook = new QSplitter(Qt::Vertical);
    outlook->setObjectName("Outlook");
    outlook->addWidget(top);
    outlook->addWidget(bottom);
    outlook->setChildrenCollapsible(false);
    outlook->setStretchFactor(0, 2);
    outlook->setStretchFactor(1, 3);
    // A window too small for all of it scrolls the tab rather than growing past the screen.
    OutlookArea = new QScrollArea;
    OutlookArea->setObjectName("OutlookArea");
    OutlookArea->setWidget(outlook);
    OutlookArea->setWidgetResizable(true);
    OutlookArea->setFrameShape(QFrame::NoFrame);
    return OutlookArea;
}

QWidget* TSkillForm::BuildNullTest()
{
    auto* box = new QGroupBox(QStringLiteral("筛选零假设检验"));
    box->setToolTip(QStringLiteral("把 Y 在各记录间随机打乱若干次，每次重做整个交叉检验（含逐步筛选），"
                                   "看单靠筛选噪声能否得到实际这样的技巧"));
    NullRunsEdit = new QSpinBox;
    NullRunsEdit->setObjectName("NullRunsEdit");
    NullRunsEdit->setRange(1, 100000);
    NullRunsEdit->setValue(DefaultNullRuns);
    NullRunsEdit->setToolTip(QStringLiteral("打乱次数越多，p 越精确；最小的 p 为 1/(次数+1)"));
    NullSeedEdit = new QSpinBox;
    NullSeedEdit->setObjectName("NullSeedEdit");
    NullSeedEdit->setRange(0, INT_MAX);
    NullSeedEdit->setValue(1);
    NullSeedEdit->setToolTip(QStringLiteral("同一种子给出同样的打乱和同样的结果，与批处理的 --seed 相同"));
    NullRunButton = new QPushButton(QStringLiteral("开始检验(&R)"));
    NullRunButton->setObjectName("NullRunButton");
    connect(NullRunButton, &QPushButton::clicked, this, [this] { RunNullTest(); });
    NullCancelButton = new QPushButton(QStringLiteral("取消"));
    NullCancelButton->setObjectName("NullCancelButton");
    connect(NullCancelButton, &QPushButton::clicked, this, [this] { CancelNullTest(); });
    NullProgress = new QProgressBar;
    NullProgress->setObjectName("NullProgress");
    NullProgress->setFormat(QStringLiteral("%v / %m"));
    NullProgress->setTextVisible(false);
    NullProgress->setMinimumWidth(60);
    NullStatusLabel = new QLabel;
    NullStatusLabel->setObjectName("NullStatusLabel");
    NullStatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    NullFigureBox = new QComboBox;
    NullFigureBox->setObjectName("NullFigureBox");
    NullFigureBox->addItems({QStringLiteral("相关系数"), QStringLiteral("MSSS"), QStringLiteral("RPSS")});
    connect(NullFigureBox, &QComboBox::currentIndexChanged, this, [this] { ShowNullFigure(); });
    NullView = MakeChartView("NullView");
    NullView->setMinimumSize(SmallChartMinimumWidth, SmallChartMinimumHeight - 40);

    auto* counts = new QHBoxLayout;
    auto* runsLabel = new QLabel(QStringLiteral("打乱次数(&N)"));
    runsLabel->setBuddy(NullRunsEdit);
    counts->addWidget(runsLabel);
    counts->addWidget(NullRunsEdit);
    counts->addWidget(new QLabel(QStringLiteral("随机种子")));
    counts->addWidget(NullSeedEdit, 1);
    auto* run = new QHBoxLayout;
    run->addWidget(NullRunButton);
    run->addWidget(NullProgress, 1);
    run->addWidget(NullCancelButton);
    auto* shown = new QHBoxLayout;
    shown->addWidget(new QLabel(QStringLiteral("分布图")));
    shown->addWidget(NullFigureBox);
    shown->addWidget(NullStatusLabel, 1);
    auto* layout = new QVBoxLayout(box);
    layout->addLayout(counts);
    layout->addLayout(run);
    layout->addLayout(shown);
    layout->addWidget(NullView, 1);
    return box;
}

void TSkillForm::Check(const TSkillRequest& request)
{
    Compute(request);
    show();
    raise();
    activateWindow();
}

void TSkillForm::TableChanged(bool open)
{
    FRequest = {};
    Clear(open ? QStringLiteral("数据表已更换，请重新检验") : QStringLiteral("数据表已关闭，检验结果已清除"));
}

void TSkillForm::Compute(const TSkillRequest& request)
{
    StopNullTest(false);
    FRequest = request;
    {
        // K cannot leave fewer than three records to fit; a larger one is never offered.
        const QSignalBlocker quiet(LeaveEdit);
        LeaveEdit->SetLargest(request.Data->RecordCount() - 3);
    }
    TSkillOptions options;
    options.Method = request.Method;
    options.Fa = request.Fa;
    options.Leave = LeaveEdit->value();
    options.Terciles = true;
    try {
        const TBusy busy(FUi);
        FSkill = std::make_unique<TSkill>(ComputeSkill(*request.Data, request.FactorNames, request.YName, options));
        ComputeRetroactive();
        FChartData = {};
        FChartData.Axis = RecordAxis(*request.Data, request.FirstFieldName, FChartData.Years);
    } catch (const std::exception& e) {
        Clear(QStringLiteral("计算失败：") + QString::fromStdString(e.what()));
        throw;
    }
    FChartData.YName = request.YName;
    FChartData.Observed = FSkill->Observed;
    FChartData.Fitted = FSkill->Fitted;
    FChartData.Hindcast = FSkill->Validation.Hindcast;
    FChartData.Leave = FSkill->Validation.Leave;
    FChartData.Outlook = FSkill->Outlook->Scores;
    StatusLabel->hide();
    Fill();
}

// From the default start, apart from the check: forecasts made as in real time that cannot be
// made (too few records) leave the rest of the check as it is, with the reason in their column.
void TSkillForm::ComputeRetroactive()
{
    FRetroactiveReason.clear();
    try {
        const std::int32_t n = FRequest.Data->RecordCount();
        const std::int32_t start = DefaultRetroactiveStart(n);
        CheckRetroactiveStart(start, n);
        const TSkillSample sample(*FRequest.Data, FRequest.FactorNames, FRequest.YName);
        FSkill->Retroactive = ForecastRetroactively(sample, FRequest.Method, FRequest.Fa, start);
        FSkill->RetroactiveOutlook = RetroactiveProbabilities(sample.Y(), *FSkill->Retroactive);
    } catch (const std::exception& e) {
        FSkill->Retroactive.reset();
        FSkill->RetroactiveOutlook.reset();
        FRetroactiveReason = QString::fromStdString(e.what());
    }
}

void TSkillForm::Recompute()
{
    if (!FRequest.Data) return;
    try {
        Compute(TSkillRequest(FRequest));
    } catch (const std::exception&) {
        // The window says why: a box on top of it for every step of K would be in the way.
    }
}

void TSkillForm::Clear(const QString& reason)
{
    StopNullTest(false);
    FSkill.reset();
    FNull.reset();
    FRetroactiveReason.clear();
    FChartData = {};
    EquationView->SetText({});
    EquationView->hide();  // the reason takes its place
    for (QTableWidget* table : {FigureTable, CoefficientTable, StepTable, OutlookTable}) table->setRowCount(0);
    for (QChartView* view : {SeriesView, ScatterView, ReliabilityView, NullView})
        ShowChart(view, std::make_unique<QChart>(), font());
    ShowChances({}, {});
    NormalLabel->clear();
    NullStatusLabel->clear();
    NullProgress->reset();
    NullProgress->setTextVisible(false);
    FillCaseEntry();
    ForecastLabel->clear();
    SavePictureButton->setEnabled(false);
    LeaveEdit->setEnabled(FRequest.Data != nullptr);
    EnableNullTest();
    StatusLabel->setText(reason);
    StatusLabel->setToolTip(reason);
    StatusLabel->show();
}

void TSkillForm::Fill()
{
    std::vector<std::string> factors;
    for (const TCoefficient& c : FSkill->Equation.Coefficients()) factors.push_back(c.Name);
    EquationView->SetText(TermsApart(FSkill->Equation.Text(), factors));
    EquationView->show();
    FillCoefficients();
    FillSteps();
    FillFigures();
    FillCharts();
    FNull.reset();
    FillOutlook();
    FillCaseEntry();
    SavePictureButton->setEnabled(true);
    LeaveEdit->setEnabled(true);
    NullStatusLabel->clear();
    NullProgress->reset();
    NullProgress->setTextVisible(false);
    EnableNullTest();
}

void TSkillForm::FillCoefficients()
{
    const TFittedEquation& e = FSkill->Equation;
    const auto& counts = FSkill->Validation.SelectionCounts;
    // Every candidate, those of the final equation first: how often the folds chose a factor
    // matters also for the factors that did not make it.
    std::vector<bool> inEquation(e.CandidateNames().size(), false);
    CoefficientTable->setRowCount(static_cast<int>(e.CandidateNames().size()) + 1);
    int row = 0;
    SetRow(CoefficientTable, row++, {QStringLiteral("常数"), Number(e.Constant()), {}, {}, {}, {}, {}});
    for (const TCoefficient& c : e.Coefficients()) {
        inEquation[static_cast<std::size_t>(c.Factor)] = true;
        SetRow(CoefficientTable, row++,
               {QString::fromStdString(c.Name), Number(c.B), Number(c.SE), Number(c.T, 4), Number(c.P, 3),
                Number(c.VIF, 4), QString::number(counts.at(static_cast<std::size_t>(c.Factor)))});
    }
    for (std::size_t i = 0; i < inEquation.size(); ++i) {
        if (inEquation[i]) continue;
        SetRow(CoefficientTable, row++,
               {QString::fromStdString(e.CandidateNames()[i]), QStringLiteral("(未入选)"), {}, {}, {}, {},
                QString::number(counts.at(i))});
    }
    CoefficientTable->resizeColumnsToContents();
}

void TSkillForm::FillSteps()
{
    const TFittedEquation& e = FSkill->Equation;
    StepTable->setRowCount(static_cast<int>(e.Steps().size()));
    int row = 0;
    for (const TStep& s : e.Steps()) {
        const bool enters = s.Action == TStep::TAction::Enter;
        SetRow(StepTable, row++,
               {enters ? QStringLiteral("引入") : QStringLiteral("剔除"),
                QString::fromStdString(e.CandidateNames().at(static_cast<std::size_t>(s.Factor))), Number(s.V),
                Number(s.F), Number(s.Q)});
    }
    StepTable->resizeColumnsToContents();
    // The full method takes every factor at once: it has no path to show.
    Tables->setTabEnabled(Tables->indexOf(StepTable), !e.Steps().empty());
}

void TSkillForm::FillFigures()
{
    const TFittedEquation& e = FSkill->Equation;
    const TCrossValidation& v = FSkill->Validation;
    const std::vector<std::pair<QString, QString>> figures = {
        {QStringLiteral("样本数 n"), QString::number(e.SampleSize())},
        {QStringLiteral("复相关系数平方 R²"), Number(e.R2())},
        {QStringLiteral("调整 R²"), Number(e.AdjustedR2())},
        {QStringLiteral("剩余标准差 s"), Number(e.S())},
        {QStringLiteral("回归 F"), Number(e.F())},
        {QStringLiteral("回归 F 的 p"), Number(e.FP(), 3)},
        {QStringLiteral("交叉检验相关系数"), Number(v.Correlation, 4)},
        {QStringLiteral("交叉检验均方根误差 RMSE"), Number(v.Rmse)},
        {QStringLiteral("交叉检验平均绝对误差 MAE"), Number(v.Mae)},
        {QStringLiteral("技巧评分 MSSS"), Number(v.Msss, 4)},
        {QStringLiteral("无法计算的折数"), QString::number(v.FailedFolds)},
    };
    FigureTable->setRowCount(static_cast<int>(figures.size()));
    for (std::size_t i = 0; i < figures.size(); ++i)
        SetRow(FigureTable, static_cast<int>(i), {figures[i].first, figures[i].second});
    FigureTable->resizeColumnsToContents();
}

void TSkillForm::FillCharts()
{
    ShowChart(SeriesView, MakeHindcastSeriesChart(FChartData), font());
    ShowChart(ScatterView, MakeHindcastScatterChart(FChartData), font());
}

void TSkillForm::FillCaseEntry()
{
    while (CaseLayout->rowCount() > 0) CaseLayout->removeRow(0);
    CaseEdits.clear();
    if (!FSkill) return;
    for (const TCoefficient& c : FSkill->Equation.Coefficients()) {
        auto* edit = new QLineEdit(FCaseTexts[FieldNameKey(c.Name)]);
        edit->setObjectName(QString::fromStdString("Case_" + c.Name));
        auto* validator = new QDoubleValidator(edit);
        validator->setLocale(QLocale::c());  // "." as the decimal point, as everywhere in the program
        edit->setValidator(validator);
        edit->setAlignment(Qt::AlignRight);
        connect(edit, &QLineEdit::textChanged, this, [this, key = FieldNameKey(c.Name)](const QString& text) {
            FCaseTexts[key] = text;
            CaseChanged();
        });
        CaseLayout->addRow(QString::fromStdString(c.Name), edit);
        CaseEdits.push_back(edit);
    }
    CaseChanged();
}

void TSkillForm::CaseChanged()
{
    if (!FSkill) return;
    std::vector<double> values;
    for (QLineEdit* edit : CaseEdits) {
        bool ok = false;
        const double v = QLocale::c().toDouble(edit->text().trimmed(), &ok);
        if (!ok || !std::isfinite(v)) {
            ForecastLabel->setText(QStringLiteral("请输入各因子的值"));
            ShowChances({}, QStringLiteral("请在左侧输入各因子的值"));
            return;
        }
        values.push_back(v);
    }
    try {
        const TForecast f = FSkill->Equation.Forecast(values, LevelEdit->value() / 100.0);
        ForecastLabel->setText(QStringLiteral("%1 (%2 ~ %3)").arg(Number(f.Value), Number(f.Lower), Number(f.Upper)));
    } catch (const std::exception& e) {
        ForecastLabel->setText(QString::fromStdString(e.what()));
    }
    try {
        ShowChances(ForecastTerciles(FSkill->Equation, values, *FSkill->Terciles).Probabilities, {});
    } catch (const std::exception& e) {
        ShowChances({}, QString::fromStdString(e.what()));
    }
}

void TSkillForm::ShowChances(const std::optional<TTercileProbabilities>& chances, const QString& why)
{
    ShowChart(ChanceView, MakeTercileChart(chances), font());
    if (!chances) {
        ChanceLabel->setText(why);
        return;
    }
    ChanceLabel->setText(QStringLiteral("偏低 %1　正常 %2　偏高 %3")
                             .arg(PercentText(chances->Below), PercentText(chances->Near), PercentText(chances->Above)));
}

void TSkillForm::FillOutlook()
{
    const TCrossValidation& v = FSkill->Validation;
    const TProbabilityScores& scores = FSkill->Outlook->Scores;
    const TRetroactive* r = FSkill->Retroactive ? &*FSkill->Retroactive : nullptr;
    const TProbabilityScores* rs = FSkill->RetroactiveOutlook ? &FSkill->RetroactiveOutlook->Scores : nullptr;
    const TScreeningNull* null = FNull ? &*FNull : nullptr;
    const QString dash = QStringLiteral("—");
    auto retroactive = [&](auto figure) { return r ? figure(*r) : dash; };
    auto retroactiveScore = [&](auto figure) { return rs ? figure(*rs) : dash; };
    auto p = [&](const TNullFigure* figure) { return figure ? Number(figure->P, 4) : dash; };
    const TNullFigure* pRpss = null && null->Rpss ? &*null->Rpss : nullptr;
    // A p exists only for the figures the null test judges; the other rows leave its cell blank.
    const std::vector<QStringList> rows = {
        {QStringLiteral("预报次数"), QString::number(v.Hindcast.size()),
         retroactive([](const TRetroactive& x) { return QString::number(x.Hindcast.size()); }), {}},
        {QStringLiteral("相关系数"), Number(v.Correlation, 4),
         retroactive([](const TRetroactive& x) { return Number(x.Correlation, 4); }), p(null ? &null->Correlation : nullptr)},
        {QStringLiteral("RMSE"), Number(v.Rmse, 4), retroactive([](const TRetroactive& x) { return Number(x.Rmse, 4); }), {}},
        {QStringLiteral("MAE"), Number(v.Mae, 4), retroactive([](const TRetroactive& x) { return Number(x.Mae, 4); }), {}},
        {QStringLiteral("MSSS"), Number(v.Msss, 4),
         retroactive([](const TRetroactive& x) { return Number(x.Msss, 4); }), p(null ? &null->Msss : nullptr)},
        {QStringLiteral("RPSS"), Number(scores.Rpss, 4),
         retroactiveScore([](const TProbabilityScores& x) { return Number(x.Rpss, 4); }), p(pRpss)},
        {QStringLiteral("ROC 面积 偏低"), Number(scores.RocBelow, 4),
         retroactiveScore([](const TProbabilityScores& x) { return Number(x.RocBelow, 4); }), {}},
        {QStringLiteral("ROC 面积 偏高"), Number(scores.RocAbove, 4),
         retroactiveScore([](const TProbabilityScores& x) { return Number(x.RocAbove, 4); }), {}},
        {QStringLiteral("HSS"), Number(scores.Hss, 4),
         retroactiveScore([](const TProbabilityScores& x) { return Number(x.Hss, 4); }), {}},
        {QStringLiteral("无法计算"), QString::number(v.FailedFolds),
         retroactive([](const TRetroactive& x) { return QString::number(x.FailedSteps); }), {}},
    };
    OutlookTable->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i) SetRow(OutlookTable, static_cast<int>(i), rows[i]);
    OutlookTable->resizeColumnsToContents();
    // Every row in sight: ten figures read side by side are no list to scroll through.
    // The header's own line and the frame take a pixel or two more than their hints say. Every
    // column in sight as well: the retroactive figures and the p beside the cross-validated ones
    // are what the table is for.
    OutlookTable->setMinimumHeight(OutlookTable->horizontalHeader()->sizeHint().height() +
                                   OutlookTable->verticalHeader()->length() + 2 * OutlookTable->frameWidth() + 2);
    int width = 2 * OutlookTable->frameWidth() + 2;
    for (int c = 0; c < OutlookTable->columnCount(); ++c) width += OutlookTable->columnWidth(c);
    OutlookTable->setMinimumWidth(width);
    OutlookTable->horizontalHeaderItem(2)->setToolTip(
        r ? QStringLiteral("第 %1 条记录以后的每条记录，只用它之前的记录重新筛选因子、建立方程并预报，"
                           "如同当年实时预报（记录须按时间顺序排列）")
                .arg(r->Start)
          : QStringLiteral("无法回溯预报：") + FRetroactiveReason);
    const TTerciles& t = *FSkill->Terciles;
    NormalLabel->setText(QStringLiteral("正常范围 %1 ~ %2").arg(Number(t.Lower), Number(t.Upper)));
    ShowChart(ReliabilityView, MakeReliabilityChart(scores), font());
    ShowNullFigure();
}

void TSkillForm::ShowNullFigure()
{
    const TNullFigure* figure = nullptr;
    if (FNull) {
        const int shown = NullFigureBox->currentIndex();
        figure = shown == 0 ? &FNull->Correlation : shown == 1 ? &FNull->Msss : FNull->Rpss ? &*FNull->Rpss : nullptr;
    }
    if (!figure) {
        ShowChart(NullView, std::make_unique<QChart>(), font());
        return;
    }
    ShowChart(NullView, MakeNullChart(*figure, NullFigureBox->currentText()), font());
}

void TSkillForm::EnableNullTest()
{
    const bool ready = FSkill && FRequest.Data && !FNullRunning;
    NullRunButton->setEnabled(ready);
    NullRunsEdit->setEnabled(!FNullRunning);
    NullSeedEdit->setEnabled(!FNullRunning);
    NullCancelButton->setEnabled(FNullRunning);
}

void TSkillForm::RunNullTest()
{
    if (!FSkill || !FRequest.Data || FNullRunning) return;
    TSkillOptions options;
    options.Method = FRequest.Method;
    options.Fa = FRequest.Fa;
    options.Leave = FSkill->Validation.Leave;
    options.Terciles = true;
    TNullOptions null;
    null.Runs = NullRunsEdit->value();
    null.Seed = static_cast<std::uint64_t>(NullSeedEdit->value());
    FNull.reset();
    FChartData.Null.reset();
    FillOutlook();
    FNullRunning = true;
    FNullStop = TNullStop::None;
    EnableNullTest();
    NullProgress->setRange(0, null.Runs);
    NullProgress->setValue(0);
    NullProgress->setTextVisible(true);
    NullStatusLabel->setText(QStringLiteral("正在计算…"));
    // The computation runs here, as the window's others do; between runs the window answers the
    // user often enough to show the progress and to take a cancel, a new K or a new check.
    QElapsedTimer sinceAnswer;
    auto progress = [&](std::int32_t done, std::int32_t) {
        NullProgress->setValue(done);
        if (!sinceAnswer.isValid() || sinceAnswer.elapsed() >= NullAnswerMilliseconds) {
            QCoreApplication::processEvents();
            sinceAnswer.start();
        }
        return FNullStop == TNullStop::None;
    };
    std::optional<TScreeningNull> result;
    QString failure;
    try {
        result = ComputeNullTest(*FRequest.Data, FRequest.FactorNames, FRequest.YName, options, null, progress);
    } catch (const ESkillCancelled&) {
        // Said below by why it stopped.
    } catch (const std::exception& e) {
        failure = QString::fromStdString(e.what());
    }
    FNullRunning = false;
    const TNullStop stop = FNullStop;
    FNullStop = TNullStop::None;
    EnableNullTest();
    // A stopped test leaves no count behind; a finished one shows all its runs done.
    if (stop != TNullStop::None || !result) {
        NullProgress->setTextVisible(false);
        NullProgress->setValue(0);
    }
    // A check that replaced this one has emptied the null test's figures itself.
    if (stop == TNullStop::Replaced) {
        NullStatusLabel->setText(QStringLiteral("已中断：预报检验已重新计算或清除"));
        return;
    }
    if (stop == TNullStop::User) {
        NullStatusLabel->setText(QStringLiteral("已取消"));
        return;
    }
    if (!result) {
        NullStatusLabel->setText(QStringLiteral("计算失败：") + failure);
        NullStatusLabel->setToolTip(failure);
        return;
    }
    FNull = std::move(result);
    FChartData.Null = FNull;
    NullStatusLabel->setText(QStringLiteral("已完成 %1 次打乱（种子 %2）").arg(FNull->Runs).arg(FNull->Seed));
    FillOutlook();
}

void TSkillForm::CancelNullTest() { StopNullTest(true); }

void TSkillForm::StopNullTest(bool byUser)
{
    if (FNullRunning && FNullStop == TNullStop::None) FNullStop = byUser ? TNullStop::User : TNullStop::Replaced;
}

void TSkillForm::closeEvent(QCloseEvent* event)
{
    // A closed window has nobody to show the result to.
    StopNullTest(true);
    QWidget::closeEvent(event);
}

void TSkillForm::SavePictureClick()
{
    if (!FSkill) return;
    const auto path = FUi.SaveFileName("保存图片", {{"PNG 图片(*.png)", {"*.png"}}}, "png");
    if (!path) return;
    if (IsExistingFile(*path) &&
        FUi.MessageBox("The file already existed.Overwrite?", "Message", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const TBusy busy(FUi);
    SaveSkillChart(FChartData, *path, FRequest.SourcePath);
}

}  // namespace quorlin
