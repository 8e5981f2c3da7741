#include "ui/SkillForm.h"

#include <QDoubleSpinBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtCharts/QChartView>

#include <algorithm>
#include <cmath>

#include "ui/EquationView.h"
#include "ui/OddSpinBox.h"
#include "charts/SkillChartItems.h"
#include "data/provider/CustomerData.h"
#include "data/windows/QtUserInterface.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

// Small enough for the whole window, frame and task bar included, to fit a 1024×768 screen;
// below it a chart has no room left for its plot.
constexpr int ChartMinimumWidth = 360;
constexpr int ChartMinimumHeight = 240;
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
    panes->addWidget(BuildCharts());
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
    try {
        const TBusy busy(FUi);
        FSkill = std::make_unique<TSkill>(ComputeSkill(*request.Data, request.FactorNames, request.YName, options));
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
    StatusLabel->hide();
    Fill();
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
    FSkill.reset();
    FChartData = {};
    EquationView->SetText({});
    EquationView->hide();  // the reason takes its place
    for (QTableWidget* table : {FigureTable, CoefficientTable, StepTable}) table->setRowCount(0);
    ShowChart(SeriesView, std::make_unique<QChart>(), font());
    ShowChart(ScatterView, std::make_unique<QChart>(), font());
    FillCaseEntry();
    ForecastLabel->clear();
    SavePictureButton->setEnabled(false);
    LeaveEdit->setEnabled(FRequest.Data != nullptr);
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
    FillCaseEntry();
    SavePictureButton->setEnabled(true);
    LeaveEdit->setEnabled(true);
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
