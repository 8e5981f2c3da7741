// The forecast check window, driven as a user drives it from the main window.

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "DesktopFixture.h"
#include "TestFiles.h"
#include "ui/SkillForm.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

class SkillCheck : public Desktop {
protected:
    // ElNino, Y = DEC, every month and the year ticked, the method chosen.
    void ChooseElNino(int method)
    {
        Import(Regression, "ElNino");
        ChooseY("DEC");
        Form.Selectall1Click();
        Form.ComboBox2->setCurrentIndex(method);
        Form.ComboBox2Change();
    }
    TSkillForm& Window()
    {
        EXPECT_NE(Form.SkillCheck(), nullptr);
        return *Form.SkillCheck();
    }
    static QString Text(QTableWidget* table, int row, int column)
    {
        const QTableWidgetItem* item = table->item(row, column);
        return item ? item->text() : QString();
    }
    // The rows of a table whose first cell is the text.
    static int RowOf(QTableWidget* table, const QString& first)
    {
        for (int r = 0; r < table->rowCount(); ++r)
            if (Text(table, r, 0) == first) return r;
        return -1;
    }
    // Coefficients as the classic equation text shows them: "+0.321*OCT" gives OCT -> 0.321.
    static std::map<std::string, double> TermsOf(const std::string& equation)
    {
        std::map<std::string, double> terms;
        const std::regex term(R"(([+-][0-9.]+)\*([A-Za-z_][A-Za-z_0-9]*))");
        for (auto it = std::sregex_iterator(equation.begin(), equation.end(), term); it != std::sregex_iterator(); ++it)
            terms[(*it)[2]] = std::strtod((*it)[1].str().c_str(), nullptr);
        return terms;
    }
    void Close()
    {
        if (Form.SkillCheck()) Form.SkillCheck()->close();
    }
};

TEST_F(SkillCheck, TheButtonIsEnabledExactlyWhenComputeAndSaveIs)
{
    auto same = [&] { EXPECT_EQ(Form.Button7->isEnabled(), Form.Button1->isEnabled()); };
    EXPECT_EQ(Form.Button7->text(), "预报检验");
    EXPECT_FALSE(Form.Button7->isEnabled());
    Import(Regression, "ElNino");
    same();
    EXPECT_FALSE(Form.Button7->isEnabled());
    ChooseY("DEC");
    same();
    EXPECT_TRUE(Form.Button7->isEnabled());
    Form.ComboBox2->setCurrentIndex(1);
    Form.ComboBox2Change();
    same();
    // A file chosen in the import dialog closes the table, and the dialog is cancelled.
    Form.ShowTablesDialog = [&](TTablesDlg& dialog) {
        Ui.OpenAnswers.push_back(Regression);
        dialog.OpenBtnClick();
    };
    Form.Button2->click();
    same();
    EXPECT_FALSE(Form.Button7->isEnabled());
    EXPECT_GT(Form.Button7->y(), Form.Button6->y()) << "below help";
}

TEST_F(SkillCheck, ShowsTheEquationOfComputeAndSaveWithItsCoefficientsAndSteps)
{
    ChooseElNino(0);
    Form.Button1Click();  // the classic box, for the equation to compare with
    ASSERT_FALSE(Ui.Boxes.empty());
    const std::string equation = Ui.Boxes.back().Text;
    Form.Button7->click();
    ASSERT_THAT(Ui.Errors, ::testing::IsEmpty());
    TSkillForm& w = Window();
    EXPECT_EQ(w.windowTitle(), "预报检验");
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.EquationLabel->text().toStdString(), equation);

    // Each factor of the equation with its b (as the equation rounds it), and its figures.
    const auto terms = TermsOf(equation);
    ASSERT_FALSE(terms.empty());
    for (const auto& [name, b] : terms) {
        const int row = RowOf(w.CoefficientTable, QString::fromStdString(name));
        ASSERT_GE(row, 0) << name;
        EXPECT_NEAR(Text(w.CoefficientTable, row, 1).toDouble(), b, 0.0005 + 1e-9) << name;
        for (int column = 2; column <= 6; ++column) EXPECT_FALSE(Text(w.CoefficientTable, row, column).isEmpty()) << name;
    }
    // Every candidate is listed, the constant first.
    EXPECT_EQ(Text(w.CoefficientTable, 0, 0), "常数");
    EXPECT_EQ(w.CoefficientTable->rowCount(), 12 + 1);  // YEAR and eleven months
    // The stepwise path ends with the factors of the equation in it.
    std::set<std::string> in;
    for (int r = 0; r < w.StepTable->rowCount(); ++r) {
        const std::string name = Text(w.StepTable, r, 1).toStdString();
        if (Text(w.StepTable, r, 0) == "引入") in.insert(name); else in.erase(name);
    }
    std::set<std::string> expected;
    for (const auto& t : terms) expected.insert(t.first);
    EXPECT_EQ(in, expected);
    EXPECT_EQ(Text(w.FigureTable, 0, 1), "61");
    EXPECT_EQ(w.Charts->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
    Close();
}

TEST_F(SkillCheck, ACaseOfARecordsValuesIsForecastAsTheEquationFitsIt)
{
    ChooseElNino(1);
    Form.Button7->click();
    ASSERT_THAT(Ui.Errors, ::testing::IsEmpty());
    TSkillForm& w = Window();
    const TSkill& skill = *w.Shown();
    ASSERT_EQ(w.CaseEdits.size(), skill.Equation.Coefficients().size());
    EXPECT_EQ(w.ForecastLabel->text(), "请输入各因子的值");

    // Record 10's values typed in, factor by factor, read from the table itself.
    const int record = 10;
    Data.DataQuery.First();
    Data.DataQuery.MoveBy(record);
    for (std::size_t i = 0; i < w.CaseEdits.size(); ++i) {
        const auto& name = skill.Equation.Coefficients()[i].Name;
        w.CaseEdits[i]->setText(QString::number(Data.DataQuery.AsFloat(Data.DataQuery.FieldByName(name)), 'g', 17));
    }
    const QStringList parts = w.ForecastLabel->text().split(QRegularExpression(R"([ ()~]+)"), Qt::SkipEmptyParts);
    ASSERT_EQ(parts.size(), 3) << w.ForecastLabel->text().toStdString();
    const double value = parts[0].toDouble(), lower = parts[1].toDouble(), upper = parts[2].toDouble();
    EXPECT_NEAR(value, skill.Fitted[record], 1e-5 * (1 + std::fabs(value)));
    EXPECT_LT(lower, value);
    EXPECT_GT(upper, value);

    w.LevelEdit->setValue(99.0);
    const QStringList wider = w.ForecastLabel->text().split(QRegularExpression(R"([ ()~]+)"), Qt::SkipEmptyParts);
    ASSERT_EQ(wider.size(), 3);
    EXPECT_LT(wider[1].toDouble(), lower);
    EXPECT_GT(wider[2].toDouble(), upper);

    w.CaseEdits.front()->setText("");
    EXPECT_EQ(w.ForecastLabel->text(), "请输入各因子的值");
    Close();
}

TEST_F(SkillCheck, LeavingMoreRecordsOutRecomputesTheSkill)
{
    ChooseElNino(0);
    Form.Button7->click();
    TSkillForm& w = Window();
    const double rmseOne = w.Shown()->Validation.Rmse;
    EXPECT_EQ(w.Shown()->Validation.Leave, 1);
    w.LeaveEdit->setValue(5);
    emit w.LeaveEdit->editingFinished();
    EXPECT_EQ(w.Shown()->Validation.Leave, 5);
    EXPECT_NE(w.Shown()->Validation.Rmse, rmseOne);
    // An even K is no window centred on a record: refused, and the check stays as it was.
    w.LeaveEdit->setValue(4);
    emit w.LeaveEdit->editingFinished();
    EXPECT_EQ(w.Shown()->Validation.Leave, 5);
    EXPECT_EQ(w.LeaveEdit->value(), 5);
    EXPECT_EQ(Ui.Errors.size(), 1u);
    Close();
}

TEST_F(SkillCheck, PicturesAreSavedAsPngButNeverOverTheDatabase)
{
    namespace fs = std::filesystem;
    ChooseElNino(0);
    Form.Button7->click();
    TSkillForm& w = Window();
    const fs::path picture = Folder / "skill.png";
    Ui.SaveAnswers.push_back(picture.string());
    w.SavePictureButton->click();
    ASSERT_THAT(Ui.Errors, ::testing::IsEmpty());
    ASSERT_TRUE(fs::exists(picture));
    EXPECT_EQ(ReadBytes(picture).substr(1, 3), "PNG");
    EXPECT_GT(fs::file_size(picture), 10000u);

    const std::string before = ReadBytes(Regression);
    Ui.SaveAnswers.push_back(Regression);
    Ui.YesNoAnswers.push_back(IDYES);
    w.SavePictureButton->click();
    EXPECT_EQ(Ui.Errors.size(), 1u);
    EXPECT_EQ(ReadBytes(Regression), before);
    Close();
}

TEST_F(SkillCheck, ABadThresholdIsRefusedAsComputeAndSaveRefusesIt)
{
    ChooseElNino(0);
    Form.MaskEdit1->setText("..");
    Form.Button7->click();
    ASSERT_EQ(Ui.Errors.size(), 1u);
    EXPECT_THAT(Ui.Errors[0], ::testing::HasSubstr("is not a valid floating point value"));
    EXPECT_EQ(Form.SkillCheck(), nullptr);
}

}  // namespace
