// The forecast check window, driven as a user drives it from the main window.

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStyleOptionSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QValueAxis>
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>

#include "tests/ui/DesktopFixture.h"
#include "tests/TestFiles.h"
#include "statistics/MemoryDataSet.h"
#include "ui/EquationView.h"
#include "ui/OddSpinBox.h"
#include "ui/SkillForm.h"

using namespace quorlin;
using namespace quorlin::testing;

// Failures show Qt's texts and sizes as a person reads them.
static void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
static void PrintTo(const QSize& size, std::ostream* os) { *os << size.width() << 'x' << size.height(); }

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
    // Sized as a window manager sizes it on a screen of that size: eight pixels of border on
    // each side, a title bar and a task bar taking eighty pixels of height together.
    static constexpr QSize FrameAllowance{16, 80};
    static void SizeFor(TSkillForm& w, QSize screen)
    {
        w.resize(screen - FrameAllowance);
        QApplication::processEvents();
        QApplication::processEvents();  // the charts lay out once their views have their size
    }
    static QList<QChart*> ChartsOf(TSkillForm& w) { return {w.SeriesView->chart(), w.ScatterView->chart()}; }
    static void TypeInto(QWidget* field, const QString& text)
    {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
    }
    // Where a person clicks to step a spin box up.
    static QPoint UpArrowOf(QSpinBox* box)
    {
        QStyleOptionSpinBox option;
        option.initFrom(box);
        option.frame = true;
        option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown | QStyle::SC_SpinBoxFrame;
        option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
        return box->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, box).center();
    }
    static bool IsEmpty(TSkillForm& w)
    {
        bool empty = w.Shown() == nullptr && w.EquationView->Text().isEmpty() && w.CaseEdits.empty();
        for (QTableWidget* table : {w.FigureTable, w.CoefficientTable, w.StepTable}) empty &= table->rowCount() == 0;
        for (QChart* chart : ChartsOf(w)) empty &= chart->series().isEmpty();
        return empty;
    }
    // Qt Charts shares the axis's width equally among the labels and cuts short one wider than
    // its share.
    static void ExpectYearLabelsWhole(TSkillForm& w)
    {
        const auto* years = qobject_cast<QValueAxis*>(w.SeriesView->chart()->axes(Qt::Horizontal).front());
        ASSERT_NE(years, nullptr);
        const double step = years->tickInterval();
        const int labels = int(std::floor(years->max() / step) - std::ceil(years->min() / step)) + 1;
        EXPECT_GE(w.SeriesView->chart()->plotArea().width() / labels,
                  QFontMetrics(years->labelsFont()).horizontalAdvance("2000") + 4)
            << labels << " labels";
    }
    static QString Reason(TSkillForm& w) { return w.StatusLabel->isVisibleTo(&w) ? w.StatusLabel->text() : QString(); }
};

// Eighty years of forty factors and the element they explain, with some noise: the full method
// keeps them all.
TMemoryDataSet FortyFactors()
{
    std::vector<std::string> names{"YEAR"};
    for (int i = 1; i <= 40; ++i) names.push_back(QStringLiteral("X%1").arg(i, 2, 10, QChar('0')).toStdString());
    names.push_back("Y");
    TMemoryDataSet table(names);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int year = 1941; year <= 2020; ++year) {
        std::vector<double> values{double(year)};
        double y = 0.0;
        for (int i = 1; i <= 40; ++i) {
            values.push_back(uniform(random));
            y += values.back() / i;
        }
        values.push_back(y + 0.3 * uniform(random));
        table.AppendRecord(std::vector<TCell>(values.begin(), values.end()));
    }
    return table;
}

TSkillRequest FullMethodOn(TMemoryDataSet& table)
{
    TSkillRequest request;
    request.Data = &table;
    request.FactorNames = {table.FieldNames().begin() + 1, table.FieldNames().end() - 1};
    request.YName = "Y";
    request.FirstFieldName = "YEAR";
    request.Method = MethodFull;
    return request;
}

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
    // The box's equation, its terms set apart for the lines to break between them.
    EXPECT_EQ(w.EquationView->Text().remove(' ').toStdString(), equation);

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
    EXPECT_EQ(w.Charts->findChildren<QChartView*>().size(), 2);
    for (QChart* chart : ChartsOf(w)) EXPECT_FALSE(chart->series().isEmpty());
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
    TypeInto(w.LeaveEdit, "5");
    QTest::keyClick(w.LeaveEdit, Qt::Key_Return);
    EXPECT_EQ(w.Shown()->Validation.Leave, 5);
    EXPECT_NE(w.Shown()->Validation.Rmse, rmseOne);
    // An even K is no window centred on a record: it becomes the next odd one.
    TypeInto(w.LeaveEdit, "8");
    QTest::keyClick(w.LeaveEdit, Qt::Key_Return);
    EXPECT_EQ(w.LeaveEdit->value(), 9);
    EXPECT_EQ(w.Shown()->Validation.Leave, 9);
    // No K that leaves fewer than three of the 61 records to fit is offered.
    TypeInto(w.LeaveEdit, "55");
    QTest::keyClick(w.LeaveEdit, Qt::Key_Return);
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    EXPECT_EQ(w.LeaveEdit->value(), 57);
    ASSERT_NE(w.Shown(), nullptr) << Reason(w).toStdString();
    EXPECT_EQ(w.Shown()->Validation.Leave, 57);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
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

// The window on a 1024×768 screen: nothing in it asks for more room than that leaves, however
// many factors the equation has; what does not fit scrolls.
TEST_F(SkillCheck, FitsASmallScreenWithTwelveFactorsAndWithForty)
{
    const QSize small = QSize(1024, 768) - FrameAllowance;
    auto expectFits = [&](TSkillForm& w, std::size_t factors) {
        ASSERT_NE(w.Shown(), nullptr) << factors;
        ASSERT_EQ(w.CaseEdits.size(), factors);
        const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
        RecordProperty("MinimumSize" + std::to_string(factors),
                       std::to_string(least.width()) + "x" + std::to_string(least.height()));
        EXPECT_LE(least.width(), small.width()) << factors;
        EXPECT_LE(least.height(), small.height()) << factors;
        SizeFor(w, QSize(1024, 768));
        EXPECT_EQ(w.size(), small) << factors;
        ExpectYearLabelsWhole(w);
        // The last factor's entry is reached by scrolling, and typing there forecasts.
        QLineEdit* last = w.CaseEdits.back();
        w.CaseArea->ensureWidgetVisible(last);
        EXPECT_TRUE(w.CaseArea->viewport()->rect().contains(last->mapTo(w.CaseArea->viewport(), QPoint(1, 1))));
        for (QLineEdit* edit : w.CaseEdits) TypeInto(edit, "0.5");
        EXPECT_THAT(w.ForecastLabel->text().toStdString(), ::testing::MatchesRegex(R"(-?[0-9.e+-]+ \(.* ~ .*\))"));
    };
    ChooseElNino(1);
    Form.Button7->click();
    ASSERT_THAT(Ui.Errors, ::testing::IsEmpty());
    expectFits(Window(), 12);
    Close();

    TMemoryDataSet table = FortyFactors();
    TSkillForm w(Ui);
    w.Check(FullMethodOn(table));
    expectFits(w, 40);
    // At its smallest the window still draws eighty years' labels whole.
    w.resize(w.minimumSizeHint());
    QApplication::processEvents();
    QApplication::processEvents();
    ExpectYearLabelsWhole(w);
    // Forty terms wrap to a few lines, each term whole, and the rest of the window keeps its room.
    EXPECT_LE(w.EquationView->height(), 4 * w.EquationView->fontMetrics().lineSpacing() + 12);
    EXPECT_THAT(w.EquationView->Text().toStdString(), ::testing::HasSubstr("*X40"));
    EXPECT_GE(w.SeriesView->height(), 150);
}

TEST(EquationTerms, SetApartAtTheEndOfEachFactorsName)
{
    EXPECT_EQ(TermsApart("Y=-1.000+2.000*X1-0.500*X10+1.000*X1A", {"X1", "X10", "X1A"}).toStdString(),
              "Y=-1.000 +2.000*X1 -0.500*X10 +1.000*X1A");
    // A factor whose coefficient rounds to nothing is missing from the text.
    EXPECT_EQ(TermsApart("Y=3.000-2.000*B", {"A", "B"}).toStdString(), "Y=3.000 -2.000*B");
    EXPECT_EQ(TermsApart("Y=3.000", {}).toStdString(), "Y=3.000");
}

// On a 1366×768 screen both charts have room for a plot, their axis titles in full beside it and
// their legends; a larger window gives them more.
TEST_F(SkillCheck, ChartsGrowWithTheWindowAndShowTheirTextsWhole)
{
    ChooseElNino(1);
    Form.Button7->click();
    TSkillForm& w = Window();
    SizeFor(w, QSize(1366, 768));
    const int seriesHeight = w.SeriesView->height();
    RecordProperty("ChartHeights1366x768",
                   std::to_string(seriesHeight) + "," + std::to_string(w.ScatterView->height()));
    for (QChartView* view : {w.SeriesView, w.ScatterView}) {
        EXPECT_GE(view->height(), 200) << view->objectName().toStdString();
        QChart* chart = view->chart();
        const QRectF plot = chart->plotArea();
        for (QAbstractAxis* axis : chart->axes()) {
            const int length = QFontMetrics(axis->titleFont()).horizontalAdvance(axis->titleText());
            EXPECT_LE(length, axis->orientation() == Qt::Vertical ? plot.height() : plot.width())
                << axis->titleText().toStdString();
        }
        const QRectF legend = chart->legend()->geometry();
        EXPECT_GE(legend.height(), QFontMetrics(chart->legend()->font()).height()) << view->objectName().toStdString();
        for (QLegendMarker* marker : chart->legend()->markers()) EXPECT_TRUE(marker->isVisible());
    }
    SizeFor(w, QSize(1920, 1080));
    EXPECT_GT(w.SeriesView->height(), seriesHeight + 100);

    Close();
}

// Titles, axes and legends speak Chinese; the only Latin letters are the names of the fields.
TEST_F(SkillCheck, ChartTextsAreChinese)
{
    ChooseElNino(1);
    Form.Button7->click();
    TSkillForm& w = Window();
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    const QRegularExpression latin("[A-Za-z]"), han(R"(\p{Han})");
    for (QChart* chart : ChartsOf(w)) {
        QStringList texts{chart->title()};
        for (QAbstractAxis* axis : chart->axes()) texts << axis->titleText();
        for (QLegendMarker* marker : chart->legend()->markers()) texts << marker->label();
        ASSERT_GE(texts.size(), 5);
        for (const QString& text : texts) {
            EXPECT_FALSE(QString(text).remove("DEC").contains(latin)) << text.toStdString();
            EXPECT_TRUE(text == "DEC" || text.contains(han)) << text.toStdString();
        }
    }
    EXPECT_EQ(w.SeriesView->chart()->axes(Qt::Horizontal).front()->titleText(), "年份");
    // The legend tells how many records each fold left out.
    QStringList labels;
    for (QLegendMarker* marker : w.SeriesView->chart()->legend()->markers()) labels << marker->label();
    EXPECT_TRUE(labels.join(' ').contains("3")) << labels.join(' ').toStdString();
    Close();
}

TEST_F(SkillCheck, AnotherTableEmptiesTheCheckAndSaysWhy)
{
    ChooseElNino(1);
    Form.Button7->click();
    TSkillForm& w = Window();
    ASSERT_FALSE(IsEmpty(w));
    EXPECT_TRUE(Reason(w).isEmpty());
    TypeInto(w.CaseEdits.front(), "1.5");

    Import(Regression, "Weather");
    EXPECT_TRUE(IsEmpty(w));
    EXPECT_EQ(Reason(w), "数据表已更换，请重新检验");
    EXPECT_FALSE(w.SavePictureButton->isEnabled());
    // K has no table to compute from.
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    EXPECT_TRUE(IsEmpty(w));

    // A file chosen in the import dialog closes the table, and the dialog is cancelled.
    ChooseElNino(1);
    Form.Button7->click();
    ASSERT_FALSE(IsEmpty(w));
    Form.ShowTablesDialog = [&](TTablesDlg& dialog) {
        Ui.OpenAnswers.push_back(Regression);
        dialog.OpenBtnClick();
    };
    Form.Button2->click();
    EXPECT_TRUE(IsEmpty(w));
    EXPECT_EQ(Reason(w), "数据表已关闭，检验结果已清除");

    // Cancelling the dialog before choosing a file leaves the table, and the check, as they were.
    ChooseElNino(1);
    Form.Button7->click();
    Form.ShowTablesDialog = [](TTablesDlg&) {};
    Form.Button2->click();
    EXPECT_FALSE(IsEmpty(w));
    EXPECT_TRUE(Reason(w).isEmpty());
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    Close();
}

TEST_F(SkillCheck, AFailedComputationEmptiesTheCheckAndSaysWhy)
{
    ChooseElNino(1);
    Form.Button7->click();
    TSkillForm& w = Window();
    ASSERT_FALSE(IsEmpty(w));
    // Every factor of Constant is constant: the equation cannot be computed.
    Import(Regression, "Constant");
    ChooseY("y");
    Form.Selectall1->trigger();
    Form.Button7->click();
    EXPECT_THAT(Ui.Errors, ::testing::ElementsAre("Invalid floating point operation"));
    EXPECT_TRUE(IsEmpty(w));
    EXPECT_EQ(Reason(w), "计算失败：Invalid floating point operation");
    Close();
}

// The arrows, a click or a key, recompute at once; a typed count once it is committed, not at
// each digit on the way.
TEST_F(SkillCheck, KRecomputesOnEveryChangeOfItsValue)
{
    ChooseElNino(0);
    Form.Button7->click();
    TSkillForm& w = Window();
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    EXPECT_EQ(w.Shown()->Validation.Leave, 3);
    QTest::mouseClick(w.LeaveEdit, Qt::LeftButton, {}, UpArrowOf(w.LeaveEdit));
    EXPECT_EQ(w.Shown()->Validation.Leave, 5);
    EXPECT_EQ(w.LeaveEdit->value(), 5);

    // Each count typed is computed as it stands; an even one waits until it is committed.
    TypeInto(w.LeaveEdit, "1");
    EXPECT_EQ(w.Shown()->Validation.Leave, 1);
    QTest::keyClicks(w.LeaveEdit, "5");
    EXPECT_EQ(w.Shown()->Validation.Leave, 15);
    TypeInto(w.LeaveEdit, "2");
    EXPECT_EQ(w.Shown()->Validation.Leave, 15);
    QTest::keyClick(w.LeaveEdit, Qt::Key_Return);
    EXPECT_EQ(w.Shown()->Validation.Leave, 3);
    QTest::keyClick(w.LeaveEdit, Qt::Key_Backspace);
    QTest::keyClicks(w.LeaveEdit, "15");
    EXPECT_EQ(w.Shown()->Validation.Leave, 15);
    EXPECT_THAT(w.SeriesView->chart()->series().back()->name().toStdString(), ::testing::HasSubstr("15"));
    Close();
}

// A case typed in stays through a new K, and through a new choice of factors for each factor that
// is still in the equation.
TEST_F(SkillCheck, TypedForecastValuesSurviveARecompute)
{
    ChooseElNino(1);
    Form.Button7->click();
    TSkillForm& w = Window();
    ASSERT_EQ(w.CaseEdits.size(), 12u);
    std::map<std::string, QString> typed;
    for (std::size_t i = 0; i < w.CaseEdits.size(); ++i) {
        const QString value = QString::number(0.25 * double(i + 1));
        TypeInto(w.CaseEdits[i], value);
        typed[w.Shown()->Equation.Coefficients()[i].Name] = value;
    }
    const QString forecast = w.ForecastLabel->text();
    ASSERT_TRUE(forecast.contains('~')) << forecast.toStdString();

    auto expectTyped = [&](std::size_t count) {
        ASSERT_EQ(w.CaseEdits.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& name = w.Shown()->Equation.Coefficients()[i].Name;
            EXPECT_EQ(w.CaseEdits[i]->text(), typed[name]) << name;
        }
    };
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    ASSERT_EQ(w.Shown()->Validation.Leave, 3);
    expectTyped(12);
    EXPECT_EQ(w.ForecastLabel->text(), forecast);

    Tick("NOV", false);
    Form.Button7->click();
    expectTyped(11);
    EXPECT_TRUE(w.ForecastLabel->text().contains('~'));
    Tick("NOV");
    Form.Button7->click();
    expectTyped(12);
    EXPECT_EQ(w.ForecastLabel->text(), forecast);
    Close();
}

}  // namespace
