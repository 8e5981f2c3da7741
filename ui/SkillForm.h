#pragma once
// The forecast check: for the main window's current choice, the equation in full (its
// coefficients with their errors and tests, the stepwise path), how well it forecasts records
// it was not fitted on (cross-validated, the selection repeated in every fold), both charts,
// and the forecast of a new case with its interval. Not modal: it stays open beside the main
// window and is refilled by the next check.

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "data/windows/UserInterface.h"
#include "charts/SkillChart.h"
#include "statistics/DataSet.h"
#include "statistics/Skill.h"

class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QVBoxLayout;
class QFormLayout;

namespace quorlin {

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

    // Computes the check for the request and shows it; errors go to the caller, and the window
    // keeps what it showed before.
    void Check(const TSkillRequest& request);

    QLabel* EquationLabel;
    QTableWidget* CoefficientTable;
    QTableWidget* StepTable;
    QTableWidget* FigureTable;
    QSpinBox* LeaveEdit;
    QWidget* Charts;
    QFormLayout* CaseLayout;
    std::vector<QLineEdit*> CaseEdits;  // one per factor of the final equation, in its order
    QDoubleSpinBox* LevelEdit;
    QLabel* ForecastLabel;
    QPushButton* SavePictureButton;

    // The check shown, for tests and for the picture.
    const TSkill* Shown() const noexcept { return FSkill.get(); }

    void SavePictureClick();
    void CaseChanged();

private:
    void Build();
    void Recompute();
    void Fill();
    void FillCoefficients();
    void FillSteps();
    void FillFigures();
    void FillCharts();
    void FillCaseEntry();

    TUserInterface& FUi;
    TSkillRequest FRequest;
    std::unique_ptr<TSkill> FSkill;
    TSkillChartData FChartData;
    QVBoxLayout* FChartLayout = nullptr;
};

}  // namespace quorlin
