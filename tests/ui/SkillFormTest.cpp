// The forecast check window, driven as a user drives it from the main window, its 概率预报 tab
// included.

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStyleOptionSpinBox>
#include <QTabWidget>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QAbstractBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QValueAxis>
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
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

// The 概率预报 tab, used as a forecaster uses it: a click on its tab, the case typed on the left,
// the null test started and stopped with its buttons. What it shows is set against the
// statistics computed apart from the window on the same records and choice.
namespace {

class OutlookTab : public SkillCheck {
protected:
    static void ClickTab(QTabWidget* tabs, const QString& title)
    {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == title) {
                QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(i).center());
                ASSERT_EQ(tabs->currentIndex(), i);
                return;
            }
        FAIL() << "no tab " << title.toStdString();
    }
    // ElNino's check as the main window asks for it, with the 概率预报 tab open.
    TSkillForm& OpenOutlook(int method)
    {
        ChooseElNino(method);
        Form.Button7->click();
        EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
        TSkillForm& w = Window();
        ClickTab(w.ChartTabs, "概率预报");
        EXPECT_TRUE(w.OutlookArea->isVisible());
        return w;
    }
    // The bars' heights, in percent, 偏低, 正常, 偏高.
    static std::vector<double> Bars(TSkillForm& w)
    {
        std::vector<double> heights;
        for (QAbstractSeries* series : w.ChanceView->chart()->series())
            if (auto* bars = qobject_cast<QAbstractBarSeries*>(series))
                for (QBarSet* set : bars->barSets()) heights.push_back(set->sum());
        return heights;
    }
    static QStringList BarNames(TSkillForm& w)
    {
        QStringList names;
        for (QAbstractSeries* series : w.ChanceView->chart()->series())
            if (auto* bars = qobject_cast<QAbstractBarSeries*>(series))
                for (QBarSet* set : bars->barSets()) names << set->label();
        return names;
    }
    static void ExpectChances(TSkillForm& w, const TTercileProbabilities& p)
    {
        const std::vector<double> bars = Bars(w);
        ASSERT_EQ(bars.size(), 3u);
        EXPECT_NEAR(bars[0], 100.0 * p.Below, 1e-9);
        EXPECT_NEAR(bars[1], 100.0 * p.Near, 1e-9);
        EXPECT_NEAR(bars[2], 100.0 * p.Above, 1e-9);
        // The words under the bars, in whole percents.
        const QStringList words = w.ChanceLabel->text().split(
            QRegularExpression(R"(\s+)", QRegularExpression::UseUnicodePropertiesOption), Qt::SkipEmptyParts);
        ASSERT_EQ(words.size(), 6) << w.ChanceLabel->text().toStdString();
        const double shown[] = {p.Below, p.Near, p.Above};
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(words[2 * k], BarNames(w)[k]);
            EXPECT_NEAR(words[2 * k + 1].chopped(1).toDouble(), 100.0 * shown[k], 0.5 + 1e-9) << words.join(' ').toStdString();
        }
    }
    static QString Cell(TSkillForm& w, const QString& row, int column)
    {
        const int r = RowOf(w.OutlookTable, row);
        EXPECT_GE(r, 0) << row.toStdString();
        return r < 0 ? QString() : Text(w.OutlookTable, r, column);
    }
    // A figure as the table shows it, to the digits it shows: a dash where there is none.
    static void ExpectFigure(TSkillForm& w, const QString& row, int column, const std::optional<double>& figure)
    {
        const QString text = Cell(w, row, column);
        if (!figure) {
            EXPECT_EQ(text, "—") << row.toStdString() << " " << column;
            return;
        }
        bool ok = false;
        const double shown = text.toDouble(&ok);
        ASSERT_TRUE(ok) << row.toStdString() << " " << column << ": " << text.toStdString();
        EXPECT_NEAR(shown, *figure, 5e-4 * std::fabs(*figure) + 1e-12) << row.toStdString() << " " << column;
    }
    // The p of each figure the null test judges, as the table shows it.
    static void ExpectPValues(TSkillForm& w, const TScreeningNull& null)
    {
        ExpectFigure(w, "相关系数", 3, null.Correlation.P);
        ExpectFigure(w, "MSSS", 3, null.Msss.P);
        ASSERT_TRUE(null.Rpss.has_value());
        ExpectFigure(w, "RPSS", 3, null.Rpss->P);
    }
    static void ExpectNoPValues(TSkillForm& w)
    {
        for (const char* row : {"相关系数", "MSSS", "RPSS"}) EXPECT_EQ(Cell(w, row, 3), "—") << row;
    }
    // The histogram's bins, summed, and where the actual figure is marked.
    static double HistogramRuns(QChart* chart)
    {
        for (QAbstractSeries* series : chart->series())
            if (auto* area = qobject_cast<QAreaSeries*>(series)) {
                const QList<QPointF> outline = area->upperSeries()->points();
                double runs = 0.0;
                // The outline climbs to each bin's count at its left edge and leaves it at its right.
                for (qsizetype k = 1; k + 1 < outline.size(); k += 2) runs += outline[k].y();
                return runs;
            }
        return -1.0;
    }
    static std::optional<double> MarkedActual(QChart* chart)
    {
        for (QAbstractSeries* series : chart->series())
            if (series->name().startsWith("实际")) return static_cast<QLineSeries*>(series)->at(0).x();
        return std::nullopt;
    }
    static std::size_t Determined(const TNullFigure& figure)
    {
        return static_cast<std::size_t>(std::count_if(figure.Null.begin(), figure.Null.end(), [](auto& v) { return v.has_value(); }));
    }
    std::vector<std::string> TickedFactors() const { return Ticked(); }
};

TEST_F(OutlookTab, TheChancesOfATypedCaseAreItsTercileForecast)
{
    TSkillForm& w = OpenOutlook(1);
    const TSkill& skill = *w.Shown();
    EXPECT_EQ(BarNames(w), QStringList({"偏低", "正常", "偏高"}));
    EXPECT_EQ(w.ChanceLabel->text(), "请在左侧输入各因子的值");
    // The terciles of every record's Y, read from the table.
    std::vector<double> y;
    for (Data.DataQuery.First(); !Data.DataQuery.Eof(); Data.DataQuery.Next())
        y.push_back(Data.DataQuery.AsFloat(Data.DataQuery.FieldByName("DEC")));
    const TTerciles terciles = Terciles(y);
    EXPECT_THAT(w.NormalLabel->text().toStdString(),
                ::testing::HasSubstr(QString::number(terciles.Lower, 'g', 6).toStdString()));

    // Record 20's values typed in, key by key.
    Data.DataQuery.First();
    Data.DataQuery.MoveBy(20);
    std::vector<double> values;
    for (std::size_t i = 0; i < w.CaseEdits.size(); ++i) {
        const auto& name = skill.Equation.Coefficients()[i].Name;
        values.push_back(Data.DataQuery.AsFloat(Data.DataQuery.FieldByName(name)));
        TypeInto(w.CaseEdits[i], QString::number(values.back(), 'g', 17));
    }
    ExpectChances(w, ForecastTerciles(skill.Equation, values, terciles).Probabilities);

    // Each key that changes the case changes the chances with it: NOV a degree warmer, then two.
    const auto nov = std::find_if(skill.Equation.Coefficients().begin(), skill.Equation.Coefficients().end(),
                                  [](const TCoefficient& c) { return c.Name == "NOV"; });
    ASSERT_NE(nov, skill.Equation.Coefficients().end());
    const std::size_t k = static_cast<std::size_t>(nov - skill.Equation.Coefficients().begin());
    const std::vector<double> before = Bars(w);
    for (double warmer : {1.0, 2.0}) {
        values[k] = std::round(Data.DataQuery.AsFloat(Data.DataQuery.FieldByName("NOV"))) + warmer;
        TypeInto(w.CaseEdits[k], QString::number(values[k]));
        ExpectChances(w, ForecastTerciles(skill.Equation, values, terciles).Probabilities);
    }
    EXPECT_NE(Bars(w), before);
    // Half a case has no chances.
    QTest::keyClick(w.CaseEdits[k], Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.CaseEdits[k], Qt::Key_Delete);
    EXPECT_EQ(w.ChanceLabel->text(), "请在左侧输入各因子的值");
    EXPECT_THAT(Bars(w), ::testing::Each(0.0));
    Close();
}

TEST_F(OutlookTab, ScoresAreTheStatisticsFiguresCrossValidatedAndRetroactive)
{
    TSkillForm& w = OpenOutlook(0);
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    ASSERT_EQ(w.Shown()->Validation.Leave, 3);
    const std::int32_t n = Data.DataQuery.RecordCount();
    TSkillOptions options;
    options.Leave = 3;
    options.Terciles = true;
    options.RetroactiveStart = DefaultRetroactiveStart(n);
    EXPECT_EQ(*options.RetroactiveStart, 31);
    const TSkill s = ComputeSkill(Data.DataQuery, TickedFactors(), "DEC", options);
    const TProbabilityScores& cv = s.Outlook->Scores;
    const TProbabilityScores& rs = s.RetroactiveOutlook->Scores;
    const TRetroactive& r = *s.Retroactive;

    EXPECT_EQ(Cell(w, "预报次数", 1), "61");
    EXPECT_EQ(Cell(w, "预报次数", 2), "30");
    ExpectFigure(w, "相关系数", 1, s.Validation.Correlation);
    ExpectFigure(w, "相关系数", 2, r.Correlation);
    ExpectFigure(w, "RMSE", 1, s.Validation.Rmse);
    ExpectFigure(w, "RMSE", 2, r.Rmse);
    ExpectFigure(w, "MAE", 1, s.Validation.Mae);
    ExpectFigure(w, "MAE", 2, r.Mae);
    ExpectFigure(w, "MSSS", 1, s.Validation.Msss);
    ExpectFigure(w, "MSSS", 2, r.Msss);
    ExpectFigure(w, "RPSS", 1, cv.Rpss);
    ExpectFigure(w, "RPSS", 2, rs.Rpss);
    ExpectFigure(w, "ROC 面积 偏低", 1, cv.RocBelow);
    ExpectFigure(w, "ROC 面积 偏低", 2, rs.RocBelow);
    ExpectFigure(w, "ROC 面积 偏高", 1, cv.RocAbove);
    ExpectFigure(w, "ROC 面积 偏高", 2, rs.RocAbove);
    ExpectFigure(w, "HSS", 1, cv.Hss);
    ExpectFigure(w, "HSS", 2, rs.Hss);
    EXPECT_EQ(Cell(w, "无法计算", 1), QString::number(s.Validation.FailedFolds));
    EXPECT_EQ(Cell(w, "无法计算", 2), QString::number(r.FailedSteps));
    ExpectNoPValues(w);
    EXPECT_THAT(w.OutlookTable->horizontalHeaderItem(2)->toolTip().toStdString(), ::testing::HasSubstr("第 31 条"));

    // The reliability diagram: a point at the middle of every bin that holds forecasts, at the
    // share of them that came true.
    std::map<QString, QList<QPointF>> lines;
    for (QAbstractSeries* series : w.ReliabilityView->chart()->series())
        lines[series->name()] = static_cast<QLineSeries*>(series)->points();
    for (const auto& [name, bins] : {std::pair{QString("偏低"), &cv.ReliabilityBelow}, std::pair{QString("偏高"), &cv.ReliabilityAbove}}) {
        QList<QPointF> expected;
        for (const TReliabilityBin& bin : *bins)
            if (bin.Count > 0) expected.append(QPointF((bin.Lower + bin.Upper) / 2, *bin.Observed));
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(lines[name], expected) << name.toStdString();
    }
    Close();
}

// Four records are too few to forecast any of them from the records before it: that column has
// dashes, the rest of the check stands, and no figure reads as a number that is not one.
TEST_F(OutlookTab, FiguresThatCannotBeMadeAreDashes)
{
    TMemoryDataSet table({"YEAR", "X", "Y"});
    for (const auto& [year, x, y] : {std::tuple{2001.0, 1.0, 2.0}, {2002.0, 2.0, 2.5}, {2003.0, 3.0, 5.0}, {2004.0, 4.0, 4.0}})
        table.AppendRecord({year, x, y});
    TSkillForm w(Ui);
    TSkillRequest request;
    request.Data = &table;
    request.FactorNames = {"X"};
    request.YName = "Y";
    request.FirstFieldName = "YEAR";
    request.Method = MethodFull;
    w.Check(request);
    ASSERT_NE(w.Shown(), nullptr) << Reason(w).toStdString();
    ClickTab(w.ChartTabs, "概率预报");
    EXPECT_EQ(Cell(w, "预报次数", 1), "4");
    for (int r = 0; r < w.OutlookTable->rowCount(); ++r) {
        EXPECT_EQ(Text(w.OutlookTable, r, 2), "—") << r;
        for (int c = 0; c < w.OutlookTable->columnCount(); ++c)
            EXPECT_FALSE(Text(w.OutlookTable, r, c).contains(QRegularExpression("nan|inf", QRegularExpression::CaseInsensitiveOption)));
    }
    EXPECT_FALSE(w.OutlookTable->horizontalHeaderItem(2)->toolTip().isEmpty());
    TypeInto(w.CaseEdits.front(), "2.5");
    const std::vector<double> bars = Bars(w);
    ASSERT_EQ(bars.size(), 3u);
    EXPECT_NEAR(std::accumulate(bars.begin(), bars.end(), 0.0), 100.0, 1e-9);
}

TEST_F(OutlookTab, TheNullTestShowsThePValuesOfTheStatisticsAndItsHistogram)
{
    TSkillForm& w = OpenOutlook(0);
    EXPECT_EQ(w.NullRunsEdit->value(), 200);
    EXPECT_FALSE(w.NullCancelButton->isEnabled());
    TypeInto(w.NullRunsEdit, "30");
    TypeInto(w.NullSeedEdit, "7");
    QTest::mouseClick(w.NullRunButton, Qt::LeftButton);
    ASSERT_FALSE(w.NullTestRunning());
    ASSERT_TRUE(w.ShownNull().has_value()) << w.NullStatusLabel->text().toStdString();

    TSkillOptions options;
    options.Terciles = true;
    TNullOptions runs;
    runs.Runs = 30;
    runs.Seed = 7;
    const TScreeningNull null = ComputeNullTest(Data.DataQuery, TickedFactors(), "DEC", options, runs);
    ExpectPValues(w, null);
    EXPECT_TRUE(w.NullRunButton->isEnabled());
    EXPECT_FALSE(w.NullCancelButton->isEnabled());

    // Each figure's histogram holds its determined runs, and marks the actual figure.
    const std::pair<const char*, const TNullFigure*> figures[] = {
        {"相关系数", &null.Correlation}, {"MSSS", &null.Msss}, {"RPSS", &*null.Rpss}};
    for (const auto& [name, figure] : figures) {
        // The list starts at the first; the arrow key takes the next.
        if (figure != &null.Correlation) QTest::keyClick(w.NullFigureBox, Qt::Key_Down);
        EXPECT_EQ(w.NullFigureBox->currentText(), name);
        QChart* chart = w.NullView->chart();
        EXPECT_TRUE(chart->title().contains(name)) << chart->title().toStdString();
        EXPECT_EQ(HistogramRuns(chart), double(Determined(*figure))) << name;
        ASSERT_TRUE(figure->Actual.has_value());
        EXPECT_EQ(MarkedActual(chart), figure->Actual) << name;
    }

    // A new K is another check: its null test is still to be run.
    QTest::keyClick(w.LeaveEdit, Qt::Key_Up);
    EXPECT_FALSE(w.ShownNull().has_value());
    ExpectNoPValues(w);
    EXPECT_TRUE(w.NullView->chart()->series().isEmpty());
    Close();
}

// The user stops a long null test: it ends at once, shows nothing of it, and the window goes on
// answering as before. A new K or a closed window stops it too.
TEST_F(OutlookTab, CancelStopsTheNullTestAndLeavesTheWindowUsable)
{
    TSkillForm& w = OpenOutlook(0);
    TypeInto(w.NullRunsEdit, "100000");
    bool sawItRun = false;
    QTimer::singleShot(0, &w, [&] {
        sawItRun = w.NullTestRunning() && w.NullCancelButton->isEnabled() && !w.NullRunButton->isEnabled() &&
                   w.NullProgress->maximum() == 100000 && w.NullProgress->value() < 100000;
        QTest::mouseClick(w.NullCancelButton, Qt::LeftButton);
    });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w.NullRunButton, Qt::LeftButton);
    EXPECT_TRUE(sawItRun);
    EXPECT_LT(clock.elapsed(), 20000) << "a hundred thousand runs were not stopped";
    EXPECT_FALSE(w.NullTestRunning());
    EXPECT_FALSE(w.ShownNull().has_value());
    EXPECT_EQ(w.NullStatusLabel->text(), "已取消");
    ExpectNoPValues(w);
    EXPECT_TRUE(w.NullRunButton->isEnabled());
    EXPECT_FALSE(w.NullCancelButton->isEnabled());
    EXPECT_TRUE(w.NullRunsEdit->isEnabled());

    // Still usable: a case typed in has its chances, and a short test runs to its end.
    for (QLineEdit* edit : w.CaseEdits) TypeInto(edit, "24");
    EXPECT_EQ(Bars(w).size(), 3u);
    EXPECT_NE(w.ChanceLabel->text(), "请在左侧输入各因子的值");
    TypeInto(w.NullRunsEdit, "5");
    QTest::mouseClick(w.NullRunButton, Qt::LeftButton);
    ASSERT_TRUE(w.ShownNull().has_value());
    EXPECT_EQ(w.ShownNull()->Runs, 5);

    // A K changed while it runs recomputes the check and drops the test.
    TypeInto(w.NullRunsEdit, "100000");
    QTimer::singleShot(0, &w, [&] { QTest::keyClick(w.LeaveEdit, Qt::Key_Up); });
    QTest::mouseClick(w.NullRunButton, Qt::LeftButton);
    EXPECT_FALSE(w.NullTestRunning());
    EXPECT_EQ(w.Shown()->Validation.Leave, 3);
    EXPECT_FALSE(w.ShownNull().has_value());
    ExpectNoPValues(w);
    EXPECT_TRUE(w.NullRunButton->isEnabled());

    // Closing the window stops it as well.
    QTimer::singleShot(0, &w, [&] { w.close(); });
    clock.restart();
    QTest::mouseClick(w.NullRunButton, Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_FALSE(w.NullTestRunning());
    EXPECT_FALSE(w.ShownNull().has_value());
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
}

// On a 1024×768 screen the tab shows its parts without scrolling: the chances, every row of the
// figures, the reliability diagram and the null test's buttons.
TEST_F(OutlookTab, FitsASmallScreen)
{
    TSkillForm& w = OpenOutlook(0);
    SizeFor(w, QSize(1024, 768));
    const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
    EXPECT_LE(least.width(), 1024 - FrameAllowance.width());
    EXPECT_LE(least.height(), 768 - FrameAllowance.height());
    QWidget* content = w.OutlookArea->widget();
    EXPECT_LE(content->width(), w.OutlookArea->viewport()->width());
    EXPECT_LE(content->height(), w.OutlookArea->viewport()->height());
    const QRect shown = w.OutlookArea->viewport()->rect();
    for (QWidget* part : std::initializer_list<QWidget*>{w.ChanceView, w.OutlookTable, w.ReliabilityView, w.NullRunButton,
                                                         w.NullCancelButton, w.NullProgress, w.NullView}) {
        const QRect at(part->mapTo(w.OutlookArea->viewport(), QPoint(0, 0)), part->size());
        EXPECT_TRUE(shown.contains(at)) << part->objectName().toStdString();
    }
    // Every row of figures in sight, none behind a scroll bar.
    const int rows = w.OutlookTable->rowCount();
    EXPECT_GE(w.OutlookTable->viewport()->height(), w.OutlookTable->rowViewportPosition(rows - 1) +
                                                        w.OutlookTable->rowHeight(rows - 1));
    EXPECT_GE(w.ReliabilityView->chart()->plotArea().height(), 100);
    Close();
}

}  // namespace
