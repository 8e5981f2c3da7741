#pragma once
// The forecast check: for the main window's current choice, the equation in full (its
// coefficients with their errors and tests, the stepwise path), how well it forecasts records
// it was not fitted on (cross-validated, the selection repeated in every fold), both charts,
// and the forecast of a new case with its interval; beside the charts, the tercile outlook: the
// new case's chances of 偏低, 正常 and 偏高, the probabilistic scores of the hindcasts and of
// forecasts made as in real time, the reliability diagram, and on request the screening null
// test. Not modal: it stays open beside the main
// window and is refilled by the next check. It never shows figures of another table than the
// one open, nor of a computation that failed: it is emptied then, with a line saying why.

#include <QWidget>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/windows/UserInterface.h"
#include "charts/SkillChart.h"
#include "statistics/DataSet.h"
#include "statistics/Skill.h"

class QChartView;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTableWidget;

namespace quorlin {

class TEquationView;
class TOddSpinBox;

// What the check is asked for: the records and the main window's choice.
struct TSkillRequest {
    TDataSet* Data = nullptr;
    std::string SourcePath;  // the database, which a picture may never replace
    std::vector<std::string> FactorNames;
    std::string YName;
    std::string FirstFieldName;  // a year column, if the records have one, is the first
    std::int32_t Method = MethodStepwise;
    double Fa = 4.0;
};

class TSkillForm : public QWidget {
    Q_OBJECT
public:
    explicit TSkillForm(TUserInterface& ui, QWidget* parent = nullptr);
    ~TSkillForm() override;

    // Computes the check for the request and shows it. A failure empties the window, says why
    // in it, and goes on to the caller.
    void Check(const TSkillRequest& request);
    // The table the check was computed from is gone: another one was opened in its place
    // (open) or none is open. The window is emptied and K computes nothing until the next check.
    void TableChanged(bool open);

    QLabel* StatusLabel;  // why the window is empty; hidden while it shows a check
    TEquationView* EquationView;
    QTabWidget* Tables;
    QTableWidget* CoefficientTable;
    QTableWidget* StepTable;
    QTableWidget* FigureTable;
    TOddSpinBox* LeaveEdit;
    QTabWidget* ChartTabs;  // 检验图, 概率预报
    QSplitter* Charts;
    QChartView* SeriesView;
    QChartView* ScatterView;
    QScrollArea* OutlookArea;
    QChartView* ChanceView;
    QLabel* ChanceLabel;  // the chances in words, or why there are none
    QLabel* NormalLabel;
    QTableWidget* OutlookTable;  // the figures, cross-validated and retroactive, and the null test's p
    QChartView* ReliabilityView;
    QSpinBox* NullRunsEdit;
    QSpinBox* NullSeedEdit;
    QPushButton* NullRunButton;
    QPushButton* NullCancelButton;
    QProgressBar* NullProgress;
    QLabel* NullStatusLabel;
    QComboBox* NullFigureBox;  // which figure's null distribution NullView shows
    QChartView* NullView;
    QScrollArea* CaseArea;
    QFormLayout* CaseLayout;
    std::vector<QLineEdit*> CaseEdits;  // one per factor of the final equation, in its order
    QDoubleSpinBox* LevelEdit;
    QLabel* ForecastLabel;
    QPushButton* SavePictureButton;

    // The check shown, for tests and for the picture.
    const TSkill* Shown() const noexcept { return FSkill.get(); }
    const std::optional<TScreeningNull>& ShownNull() const noexcept { return FNull; }
    bool NullTestRunning() const noexcept { return FNullRunning; }

    void SavePictureClick();
    void CaseChanged();
    // The screening null test of the check shown, the window answering the user while it runs:
    // a cancel, or a new check, stops it and keeps nothing of it.
    void RunNullTest();
    void CancelNullTest();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();
    QWidget* BuildTables();
    QWidget* BuildCharts();
    QWidget* BuildCaseEntry();
    QWidget* BuildOutlook();
    QWidget* BuildNullTest();
    void ComputeRetroactive();
    void Compute(const TSkillRequest& request);
    void Recompute();
    void Clear(const QString& reason);
    void Fill();
    void FillCoefficients();
    void FillSteps();
    void FillFigures();
    void FillCharts();
    void FillCaseEntry();
    void FillOutlook();
    void ShowChances(const std::optional<TTercileProbabilities>& chances, const QString& why);
    void ShowNullFigure();
    void StopNullTest(bool byUser);
    void EnableNullTest();

    TUserInterface& FUi;
    TSkillRequest FRequest;  // Data is null once the table is gone
    std::unique_ptr<TSkill> FSkill;
    TSkillChartData FChartData;
    // What the user typed for each factor (by FieldNameKey), kept for the next equation that
    // has the factor: a new K or a new choice of factors does not make the case another.
    std::map<std::string, QString> FCaseTexts;
    // Why the retroactive forecasts of the check shown could not be made; empty when they were.
    QString FRetroactiveReason;
    std::optional<TScreeningNull> FNull;  // of the check shown, once asked for
    bool FNullRunning = false;
    // Why a running null test is to stop: nothing yet, the user's cancel, or a check that
    // replaced the one it was run for.
    enum class TNullStop { None, User, Replaced } FNullStop = TNullStop::None;
};

}  // namespace quorlin
