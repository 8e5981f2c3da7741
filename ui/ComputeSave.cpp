// The compute-and-save command: what the program is for. Each press is one complete,
// independent computation over the table as it is now.

#include <QComboBox>
#include <QListWidget>

#include <memory>

#include "ui/EquForm.h"
#include "ui/SkillForm.h"
#include "statistics/Statistics01.h"
#include "support/ReportTarget.h"

namespace quorlin {

namespace {

std::vector<TFileFilter> ReportFilters()
{
    return {{"Txt Files(*.Txt)", {"*.Txt"}}, {"DataBase files(*.DB)", {"*.DB"}}};
}

}  // namespace

bool TEquForm::CollectSelection()
{
    if (ComboBox1->currentIndex() < 0) return false;
    YFieldName = ComboBox1->currentText().toStdString();
    FactorNames.clear();
    for (int i = 0; i < CheckListBox1->count(); ++i)
        if (CheckListBox1->item(i)->checkState() == Qt::Checked)
            FactorNames.push_back(CheckListBox1->item(i)->text().toStdString());
    if (YFieldName.empty()) return false;
    return !FactorNames.empty();
}

void TEquForm::Button1Click()
{
    ComboBox1Change();
    if (!CollectSelection()) {
        UpdateControls();
        return;
    }
    const double fa = TextToFloat(MaskEdit1->text().toStdString());
    const std::int32_t method = ComboBox2->currentIndex() == 1 ? MethodFull : MethodStepwise;

    // Each factor the stepwise method takes out again is shown, and the computation waits.
    auto announceRemoval = [this](std::int32_t, double v, double f) {
        FUi.MessageBox(FormatGeneral(v), FormatGeneral(f), MB_OK);
    };
    std::unique_ptr<TStatistics> stats;
    {
        const TBusy busy(FUi);
        stats = std::make_unique<TStatistics>(CustomerData->DataQuery, FactorNames, YFieldName, fa, method,
                                              announceRemoval);
        stats->MakeEquationText();
    }
    FUi.MessageBox(stats->EquationText(), "回归方程为:", MB_OK | MB_ICONQUESTION);

    const auto path = FUi.SaveFileName("保存方程数据为", ReportFilters(), "txt");
    if (path) {
        // A file the report may not replace is refused before the user is asked to overwrite
        // it; the refusal, like any error of the command, ends it in the default display.
        const std::string source = CustomerData->DataConn.FileName();
        CheckReportTarget(*path, source);
        if (!IsExistingFile(*path) ||
            FUi.MessageBox("The file already existed.Overwrite?", "Message", MB_YESNO | MB_ICONQUESTION) == IDYES) {
            // A report that cannot be written raises its reason here and nothing is opened:
            // an old file of that name must not pass for the new report.
            stats->SaveReport(*path, source);
        }
        if (IsExistingFile(*path)) FUi.OpenWithDesktop(*path);
    }
    stats.reset();
    UpdateControls();
}

void TEquForm::Button7Click()
{
    // The same choice as 计算&保存 takes, read the same way.
    ComboBox1Change();
    if (!CollectSelection()) {
        UpdateControls();
        return;
    }
    TSkillRequest request;
    request.Fa = TextToFloat(MaskEdit1->text().toStdString());
    request.Method = ComboBox2->currentIndex() == 1 ? MethodFull : MethodStepwise;
    request.Data = &CustomerData->DataQuery;
    request.SourcePath = CustomerData->DataConn.FileName();
    request.FactorNames = FactorNames;
    request.YName = YFieldName;
    request.FirstFieldName = ComboBox1->itemText(0).toStdString();
    if (!SkillForm) SkillForm = std::make_unique<TSkillForm>(FUi);
    SkillForm->Check(request);
    UpdateControls();
}

}  // namespace quorlin
