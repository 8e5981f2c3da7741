#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/ui/DesktopFixture.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class ComputeSave : public Desktop {
protected:
    // Weather: Rain from Temp and Wind by the full method.
    void ChooseWeather()
    {
        Import(Regression, "Weather");
        ChooseY("Rain");
        Form.Selectall1->trigger();
        Form.ComboBox2->setCurrentIndex(1);
        Form.ComboBox2Change();
    }
    std::string EquationShown() const
    {
        for (const auto& box : Ui.Boxes)
            if (box.Caption == "回归方程为:") return box.Text;
        return {};
    }
};

}  // namespace

TEST_F(ComputeSave, NothingTickedDoesNothingVisible)
{
    Import(Regression, "Weather");
    ChooseY("Rain");
    Form.Button1->click();
    Tick("Rain");  // only Y ticked: the press unticks it and finds no factor
    Form.Button1->click();
    EXPECT_TRUE(Ui.Boxes.empty());
    EXPECT_TRUE(Ui.SaveTitles.empty());
    EXPECT_TRUE(Ticked().empty());
    EXPECT_EQ(Form.ComboBox1->currentText(), "Rain");
}

TEST_F(ComputeSave, EquationBoxThenCancelledSaveWritesNothing)
{
    ChooseWeather();
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    EXPECT_THAT(Form.FactorNames, ElementsAre("Temp", "Wind"));  // Y unticked by the press
    EXPECT_EQ(Form.YFieldName, "Rain");
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Caption, "回归方程为:");
    EXPECT_EQ(Ui.Boxes[0].Flags, MB_OK | MB_ICONQUESTION);
    EXPECT_EQ(Ui.Boxes[0].Text.rfind("Rain=", 0), 0u);
    EXPECT_THAT(Ui.SaveTitles, ElementsAre("保存方程数据为"));
    ASSERT_EQ(Ui.LastSaveFilters.size(), 2u);
    EXPECT_EQ(Ui.LastSaveFilters[0].Description, "Txt Files(*.Txt)");
    EXPECT_EQ(Ui.LastSaveFilters[1].Description, "DataBase files(*.DB)");
    EXPECT_EQ(Ui.LastDefaultSuffix, "txt");
    EXPECT_TRUE(Ui.Opened.empty());
    EXPECT_TRUE(Folder.Entries().empty());
}

TEST_F(ComputeSave, NewFileIsWrittenWithoutAskingAndOpened)
{
    ChooseWeather();
    const std::string path = (Folder / "rain.txt").string();
    Ui.SaveAnswers.push_back(path);
    Form.Button1->click();
    EXPECT_EQ(Ui.Boxes.size(), 1u);  // no overwrite question
    EXPECT_THAT(Ui.Opened, ElementsAre(path));
    const std::string report = ReadBytes(path);
    EXPECT_EQ(report.rfind("[\xBB\xD8\xB9\xE9\xB7\xBD\xB3\xCC]\r\n" + EquationShown() + "\r\n", 0), 0u);
}

TEST_F(ComputeSave, ExistingFileAnsweredNoIsOpenedUnchanged)
{
    ChooseWeather();
    const auto path = Folder / "old.txt";
    WriteBytes(path, "old report");
    Ui.SaveAnswers.push_back(path.string());
    Ui.YesNoAnswers.push_back(IDNO);
    Form.Button1->click();
    ASSERT_EQ(Ui.Boxes.size(), 2u);
    EXPECT_EQ(Ui.Boxes[1].Text, "The file already existed.Overwrite?");
    EXPECT_EQ(Ui.Boxes[1].Caption, "Message");
    EXPECT_EQ(Ui.Boxes[1].Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(ReadBytes(path), "old report");
    EXPECT_THAT(Ui.Opened, ElementsAre(path.string()));
}

TEST_F(ComputeSave, ExistingFileAnsweredYesIsRewrittenAndOpened)
{
    ChooseWeather();
    const auto path = Folder / "old.txt";
    WriteBytes(path, "old report");
    Ui.SaveAnswers.push_back(path.string());
    Ui.YesNoAnswers.push_back(IDYES);
    Form.Button1->click();
    EXPECT_NE(ReadBytes(path), "old report");
    EXPECT_THAT(ReadBytes(path), HasSubstr("\r\n"));
    EXPECT_THAT(Ui.Opened, ElementsAre(path.string()));
}

TEST_F(ComputeSave, ReportThatCannotBeWrittenIsShownAndNothingOpened)
{
    ChooseWeather();
    const auto path = Folder / "locked.txt";
    WriteBytes(path, "old report");
    ::chmod(path.c_str(), 0444);
    Ui.SaveAnswers.push_back(path.string());
    Ui.YesNoAnswers.push_back(IDYES);
    Form.Button1->click();
    ASSERT_EQ(Ui.Errors.size(), 1u);
    EXPECT_THAT(Ui.Errors[0], HasSubstr("Cannot write report '" + path.string() + "'"));
    EXPECT_THAT(Ui.Errors[0], HasSubstr("Permission denied"));
    EXPECT_TRUE(Ui.Opened.empty());
    EXPECT_EQ(ReadBytes(path), "old report");

    Ui.SaveAnswers.push_back((Folder / "missing" / "r.txt").string());
    Form.Button1->click();
    EXPECT_EQ(Ui.Errors.size(), 2u);
    EXPECT_TRUE(Ui.Opened.empty());
}

TEST_F(ComputeSave, TheOpenDatabaseAndOtherDatabasesAreNeverReplacedByTheReport)
{
    // The save dialog answered with the open database's own path, then through a link to it,
    // then with another database that only its first page gives away.
    const std::string open = WritableCopy(Folder, "open.mdb");
    const std::string other = WritableCopy(Folder, "other.txt");
    std::filesystem::create_symlink(open, Folder / "link.txt");
    const std::string openBytes = ReadBytes(open);
    const std::string otherBytes = ReadBytes(other);
    Import(open, "Weather");
    ChooseY("Rain");
    Form.Selectall1->trigger();
    const std::pair<std::string, std::string> answers[] = {
        {open, "it is the source being read"},
        {(Folder / "link.txt").string(), "it is the source being read"},
        {other, "it is an Access database"},
    };
    for (const auto& [path, reason] : answers) {
        Ui.SaveAnswers.push_back(path);
        Ui.YesNoAnswers.push_back(IDYES);
        Form.Button1->click();
        ASSERT_FALSE(Ui.Errors.empty()) << path;
        EXPECT_EQ(Ui.Errors.back(), "The report cannot be written to '" + path + "': " + reason);
    }
    EXPECT_EQ(Ui.Errors.size(), 3u);
    // Refused before the overwrite question, and nothing opened.
    for (const auto& box : Ui.Boxes) EXPECT_NE(box.Text, "The file already existed.Overwrite?");
    EXPECT_EQ(Ui.YesNoAnswers.size(), 3u);
    EXPECT_TRUE(Ui.Opened.empty());
    EXPECT_EQ(ReadBytes(open), openBytes);
    EXPECT_EQ(ReadBytes(other), otherBytes);
    EXPECT_EQ(Folder.Entries().size(), 3u);

    // The table is still open and a report beside it is written as before.
    Ui.SaveAnswers.push_back((Folder / "rain.txt").string());
    Form.Button1->click();
    EXPECT_THAT(Ui.Opened, ElementsAre((Folder / "rain.txt").string()));
    EXPECT_EQ(Ui.Errors.size(), 3u);
}

TEST_F(ComputeSave, TwoPressesGiveTheSameEquationAndTwoReports)
{
    ChooseWeather();
    Ui.SaveAnswers.push_back((Folder / "a.txt").string());
    Ui.SaveAnswers.push_back((Folder / "b.txt").string());
    Form.Button1->click();
    Form.Button1->click();
    ASSERT_EQ(Ui.Boxes.size(), 2u);
    EXPECT_EQ(Ui.Boxes[0].Text, Ui.Boxes[1].Text);
    EXPECT_EQ(ReadBytes(Folder / "a.txt"), ReadBytes(Folder / "b.txt"));
}

TEST_F(ComputeSave, MethodCodeAndThresholdReachTheComputation)
{
    // Stepwise at 04.00 on Stepwise4: one removal box (text V, caption F, no icon), then the
    // equation without X2.
    Import(Regression, "Stepwise4");
    ChooseY("Y");
    Form.Selectall1->trigger();
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    ASSERT_EQ(Ui.Boxes.size(), 2u);
    EXPECT_EQ(Ui.Boxes[0].Flags, MB_OK);
    EXPECT_EQ(Ui.Boxes[0].Text.substr(0, 7), "0.00965");
    EXPECT_EQ(Ui.Boxes[0].Caption.substr(0, 7), "0.78571");
    EXPECT_EQ(Ui.Boxes[1].Caption, "回归方程为:");
    EXPECT_EQ(Ui.Boxes[1].Text.find("X2"), std::string::npos);

    // The full method ignores the disabled F field's value but still reads it.
    Ui.Boxes.clear();
    Form.ComboBox2->setCurrentIndex(1);
    Form.ComboBox2Change();
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_NE(Ui.Boxes[0].Text.find("X2"), std::string::npos);
}

TEST_F(ComputeSave, ErrorsEndTheCommandInTheDefaultDisplay)
{
    Import(Regression, "Constant");
    ChooseY("y");
    Form.Selectall1->trigger();
    Form.Button1->click();
    EXPECT_THAT(Ui.Errors, ElementsAre("Invalid floating point operation"));
    EXPECT_TRUE(Ui.Boxes.empty());

    Import(Regression, "Types");
    ChooseY("y");
    Tick("YesNo");
    Form.Button1->click();
    EXPECT_EQ(Ui.Errors.back(), "Cannot access field 'YesNo' as type Float");

    Form.MaskEdit1->setText("..");
    Tick("L");
    Form.Button1->click();
    EXPECT_THAT(Ui.Errors.back(), HasSubstr("is not a valid floating point value"));
}

TEST_F(ComputeSave, SeesAValuePostedInTheBrowser)
{
    const auto copy = Folder / "copy.mdb";
    std::filesystem::copy_file(Regression, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    auto compute = [&] {
        ChooseY("y");
        Form.Selectall1->trigger();
        Form.ComboBox2->setCurrentIndex(1);
        Form.ComboBox2Change();
        Ui.Boxes.clear();
        Ui.SaveAnswers.push_back(std::nullopt);
        Form.Button1->click();
        return EquationShown();
    };
    Import(copy.string(), "Sample");
    const std::string before = compute();
    ASSERT_FALSE(before.empty());

    Form.Button3->click();
    Grid.GridDatabase->selectRow(3);
    ASSERT_TRUE(Grid.Model->setData(Grid.Model->index(3, 2), QStringLiteral("14")));
    Grid.NaviDatabase->ButtonAt(TDBNavigator::nbPost)->click();
    const std::string after = compute();
    EXPECT_NE(after, before);
    // The same as the file gives when it is opened afresh.
    Import(copy.string(), "Sample");
    EXPECT_EQ(compute(), after);
    EXPECT_TRUE(Ui.Errors.empty());
}

// The computation shows the program at work, and the equation box comes after it, when the
// program waits for the user.
TEST_F(ComputeSave, TheComputationIsABusySpellThatEndsBeforeTheEquationBox)
{
    ChooseWeather();
    const int before = Ui.BusySpells;
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    EXPECT_EQ(Ui.BusySpells, before + 1);
    EXPECT_EQ(Ui.Busy, 0);
    ASSERT_EQ(Ui.BusyAtBoxes.size(), 1u);
    EXPECT_EQ(Ui.BusyAtBoxes[0], 0);
}
