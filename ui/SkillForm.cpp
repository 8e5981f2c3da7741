#include "SkillForm.h"

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
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtCharts/QChartView>

#include <cmath>

#include "charts/SkillChartItems.h"
#include "data/CustomerData.h"
#include "data/windows/QtUserInterface.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

QString Number(double value, int digits = 6) { return QString::number(value, 'g', digits); }

// A figure the records cannot determine shows as a dash, never as a made-up number.
QString Number(const std::optional<double>& value, int digits = 6)
{
    return value ? Number(*value, digits) : QStringLiteral("—");
}

QTableWidget* MakeTable(QWidget* parent, const char* name, const QStringList& titles)
{
    auto* table = new QTableWidget(0, static_cast<int>(titles.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(titles);
    table->verticalHeader()->setVisible(false);
    // Rows as tall as a line of text, so that every figure fits without scrolling.
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

QGroupBox* Framed(const QString& title, QWidget* inside)
{
    auto* box = new QGroupBox(title);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(inside);
    return box;
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
    resize(1000, 700);
    Build();
}

TSkillForm::~TSkillForm() = default;

void TSkillForm::Build()
{
    EquationLabel = new QLabel(this);
    EquationLabel->setObjectName("EquationLabel");
    EquationLabel->setWordWrap(true);
    EquationLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    CoefficientTable = MakeTable(this, "CoefficientTable",
                                 {QStringLiteral("因子"), QStringLiteral("系数 b"), QStringLiteral("标准误差"),
                                  QStringLiteral("t"), QStringLiteral("p"), QStringLiteral("VIF"),
                                  QStringLiteral("入选折数")});
    StepTable = MakeTable(this, "StepTable",
                          {QStringLiteral("步骤"), QStringLiteral("因子"), QStringLiteral("V"), QStringLiteral("F"),
                           QStringLiteral("Q'")});
    FigureTable = MakeTable(this, "FigureTable", {QStringLiteral("指标"), QStringLiteral("数值")});

    LeaveEdit = new QSpinBox(this);
    LeaveEdit->setObjectName("LeaveEdit");
    LeaveEdit->setRange(1, 99);
    LeaveEdit->setSingleStep(2);
    LeaveEdit->setValue(1);
    LeaveEdit->setToolTip(QStringLiteral("每次留出以被预报记录为中心的 K 条记录 (K 为奇数)"));
    connect(LeaveEdit, &QSpinBox::editingFinished, this, [this] { Recompute(); });

    Charts = new QWidget(this);
    Charts->setObjectName("Charts");
    FChartLayout = new QVBoxLayout(Charts);
    FChartLayout->setContentsMargins(0, 0, 0, 0);

    auto* caseBox = new QGroupBox(QStringLiteral("预报"), this);
    auto* caseOuter = new QVBoxLayout(caseBox);
    CaseLayout = new QFormLayout;
    caseOuter->addLayout(CaseLayout);
    LevelEdit = new QDoubleSpinBox(caseBox);
    LevelEdit->setObjectName("LevelEdit");
    LevelEdit->setRange(50.0, 99.9);
    LevelEdit->setDecimals(1);
    LevelEdit->setValue(95.0);
    LevelEdit->setSuffix(QStringLiteral(" %"));
    connect(LevelEdit, &QDoubleSpinBox::valueChanged, this, [this] { CaseChanged(); });
    ForecastLabel = new QLabel(caseBox);
    ForecastLabel->setObjectName("ForecastLabel");
    ForecastLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* levelRow = new QFormLayout;
    levelRow->addRow(QStringLiteral("置信水平"), LevelEdit);
    levelRow->addRow(QStringLiteral("预报值"), ForecastLabel);
    caseOuter->addLayout(levelRow);

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

    auto* left = new QVBoxLayout;
    left->addWidget(EquationLabel);
    left->addWidget(Framed(QStringLiteral("回归系数"), CoefficientTable), 3);
    left->addWidget(Framed(QStringLiteral("逐步过程"), StepTable), 1);
    left->addLayout(leaveRow);
    left->addWidget(Framed(QStringLiteral("预报技巧"), FigureTable), 4);

    auto* right = new QVBoxLayout;
    right->addWidget(Charts, 1);
    right->addWidget(caseBox);
    right->addWidget(SavePictureButton, 0, Qt::AlignRight);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right, 1);
}

void TSkillForm::Check(const TSkillRequest& request)
{
    TSkillOptions options;
    options.Method = request.Method;
    options.Fa = request.Fa;
    options.Leave = LeaveEdit->value();
    std::unique_ptr<TSkill> skill;
    TSkillChartData chart;
    {
        const TBusy busy(FUi);
        skill = std::make_unique<TSkill>(ComputeSkill(*request.Data, request.FactorNames, request.YName, options));
        bool years = false;
        chart.Axis = RecordAxis(*request.Data, request.FirstFieldName, years);
        chart.AxisTitle = years ? request.FirstFieldName : Tr("Record");
    }
    chart.YName = request.YName;
    chart.Observed = skill->Observed;
    chart.Fitted = skill->Fitted;
    chart.Hindcast = skill->Validation.Hindcast;
    chart.Leave = skill->Validation.Leave;
    FRequest = request;
    FSkill = std::move(skill);
    FChartData = std::move(chart);
    Fill();
    show();
    raise();
    activateWindow();
}

void TSkillForm::Recompute()
{
    if (!FSkill || !FRequest.Data || LeaveEdit->value() == FSkill->Validation.Leave) return;
    try {
        Check(FRequest);
    } catch (const std::exception& e) {
        LeaveEdit->setValue(FSkill->Validation.Leave);
        FUi.ShowError(e.what());
    }
}

void TSkillForm::Fill()
{
    EquationLabel->setText(QString::fromStdString(FSkill->Equation.Text()));
    FillCoefficients();
    FillSteps();
    FillFigures();
    FillCharts();
    FillCaseEntry();
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
    while (QLayoutItem* item = FChartLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    auto addChart = [this](std::unique_ptr<QChart> chart) {
        auto* view = new QChartView(chart.release(), Charts);  // the view owns its chart
        view->setRenderHint(QPainter::Antialiasing);
        view->setMinimumHeight(220);
        FChartLayout->addWidget(view);
    };
    addChart(MakeHindcastSeriesChart(FChartData));
    addChart(MakeHindcastScatterChart(FChartData));
}

void TSkillForm::FillCaseEntry()
{
    while (CaseLayout->rowCount() > 0) CaseLayout->removeRow(0);
    CaseEdits.clear();
    for (const TCoefficient& c : FSkill->Equation.Coefficients()) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QString::fromStdString("Case_" + c.Name));
        auto* validator = new QDoubleValidator(edit);
        validator->setLocale(QLocale::c());  // "." as the decimal point, as everywhere in the program
        edit->setValidator(validator);
        edit->setAlignment(Qt::AlignRight);
        connect(edit, &QLineEdit::textChanged, this, [this] { CaseChanged(); });
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
