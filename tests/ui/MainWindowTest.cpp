#include <QAction>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <gmock/gmock.h>

#include "tests/ui/DesktopFixture.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;

using MainWindow = Desktop;

TEST_F(MainWindow, StartState)
{
    EXPECT_EQ(Form.windowTitle(), "Quorlin");
    EXPECT_FALSE(Form.Button1->isEnabled());
    EXPECT_TRUE(Form.Button2->isEnabled());
    EXPECT_FALSE(Form.Button3->isEnabled());
    EXPECT_FALSE(Form.Button4->isEnabled());
    EXPECT_TRUE(Form.Button6->isEnabled());
    EXPECT_FALSE(Form.Button5->isVisibleTo(&Form));
    EXPECT_FALSE(Form.Selectall1->isEnabled());
    EXPECT_FALSE(Form.Unselectall1->isEnabled());
    EXPECT_FALSE(Form.Refresh1->isEnabled());
    EXPECT_TRUE(Form.MaskEdit1->isEnabled());
    EXPECT_EQ(Form.MaskEdit1->text(), "04.00");
    EXPECT_EQ(Form.ComboBox2->currentText(), "逐步回归法");
    EXPECT_EQ(Form.Button1->text(), "计算&&保存");
    EXPECT_EQ(Form.Button2->text(), "导入数据表");
    EXPECT_EQ(Form.Selectall1->text(), "全部选中(&S)");
    EXPECT_EQ(Form.Refresh1->text(), "刷新字段名表(&F)");
    EXPECT_TRUE(Form.N1->isSeparator());
}

TEST_F(MainWindow, ImportFillsBothListsWithNothingChosen)
{
    Import(Regression, "Weather");
    EXPECT_TRUE(Data.DataQuery.Active());
    EXPECT_THAT(Items(), ElementsAre("Rain", "Temp", "Wind"));
    ASSERT_EQ(Form.ComboBox1->count(), 3);
    EXPECT_EQ(Form.ComboBox1->itemText(1), "Temp");
    EXPECT_EQ(Form.ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(Ticked().empty());
    EXPECT_FALSE(Form.Button1->isEnabled());
    EXPECT_TRUE(Form.Button3->isEnabled());
    EXPECT_TRUE(Form.Button4->isEnabled());
    EXPECT_TRUE(Form.Selectall1->isEnabled());
    EXPECT_TRUE(Form.Refresh1->isEnabled());
    ChooseY("Rain");
    EXPECT_TRUE(Form.Button1->isEnabled());
}

TEST_F(MainWindow, TextColumnIsOfferedLikeANumericOne)
{
    Import(Regression, "Stations");
    EXPECT_THAT(Items(), ElementsAre("Station", "Rain", "Temp", "Wind"));
    EXPECT_EQ(Form.ComboBox1->itemText(0), "Station");
}

TEST_F(MainWindow, ChoosingYUnticksItOnly)
{
    Import(Regression, "Weather");
    Tick("Temp");
    Tick("Rain");
    ChooseY("Temp");
    EXPECT_THAT(Ticked(), ElementsAre("Rain"));
    ChooseY("Wind");
    EXPECT_THAT(Ticked(), ElementsAre("Rain"));  // Temp is not ticked again
    Tick("Wind");
    ChooseY("Wind");
    EXPECT_THAT(Ticked(), ElementsAre("Rain"));
}

TEST_F(MainWindow, SelectAllTicksYToo)
{
    Import(Regression, "Weather");
    ChooseY("Temp");
    Form.Selectall1->trigger();
    EXPECT_THAT(Ticked(), ElementsAre("Rain", "Temp", "Wind"));
    Form.Unselectall1->trigger();
    EXPECT_TRUE(Ticked().empty());
}

TEST_F(MainWindow, MethodSwitchesTheFField)
{
    Form.MaskEdit1->setText("12.50");
    Form.ComboBox2->setCurrentIndex(1);
    Form.ComboBox2Change();
    EXPECT_FALSE(Form.MaskEdit1->isEnabled());
    EXPECT_EQ(Form.MaskEdit1->text(), "12.50");
    Form.ComboBox2->setCurrentIndex(0);
    Form.ComboBox2Change();
    EXPECT_TRUE(Form.MaskEdit1->isEnabled());
}

TEST_F(MainWindow, IncompleteFValueIsRefusedAndEscAbandonsTheEdit)
{
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(Form.MaskEdit1, &in);
    Form.MaskEdit1->setText("5");
    Form.MaskEdit1->setModified(true);
    EXPECT_TRUE(Form.MaskEdit1->Incomplete());
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(Form.MaskEdit1, &out);
    QApplication::processEvents();
    EXPECT_THAT(Ui.Errors, ElementsAre("Invalid input value.  Use escape key to abandon changes"));

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Form.MaskEdit1, &esc);
    EXPECT_EQ(Form.MaskEdit1->text(), "04.00");

    // A complete value ("7" in the tens' place and the units', no decimals) passes.
    Form.MaskEdit1->setText("07.");
    Form.MaskEdit1->setModified(true);
    EXPECT_FALSE(Form.MaskEdit1->Incomplete());
    QApplication::sendEvent(Form.MaskEdit1, &out);
    QApplication::processEvents();
    EXPECT_EQ(Ui.Errors.size(), 1u);
}

TEST_F(MainWindow, ReturningFromTheBrowserClearsTheChoice)
{
    Import(Regression, "Weather");
    Form.Activated(nullptr);  // the first activation, at start
    ChooseY("Temp");
    Tick("Rain");
    ASSERT_TRUE(Form.Button1->isEnabled());
    Form.Activated(nullptr);  // back from another program: nothing happens
    EXPECT_EQ(Form.ComboBox1->currentText(), "Temp");
    Form.Button3->click();
    ASSERT_TRUE(Grid.isVisible());
    ASSERT_NE(Grid.windowHandle(), nullptr);
    Form.Activated(Grid.windowHandle());
    EXPECT_EQ(Form.ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(Ticked().empty());
    EXPECT_FALSE(Form.Button1->isEnabled());
}

TEST_F(MainWindow, CancelledDialogBeforeChoosingAFileChangesNothing)
{
    Import(Regression, "Weather");
    ChooseY("Temp");
    Tick("Rain");
    Form.ShowTablesDialog = [](TTablesDlg& dialog) { dialog.CancelBtnClick(); };
    Form.Button2->click();
    EXPECT_TRUE(Data.DataQuery.Active());
    EXPECT_EQ(Form.ComboBox1->currentText(), "Temp");
    EXPECT_THAT(Ticked(), ElementsAre("Rain"));
    EXPECT_TRUE(Form.Button1->isEnabled());
}

TEST_F(MainWindow, CancelledDialogAfterChoosingAFileLeavesNoTableOpen)
{
    Import(Regression, "Weather");
    ChooseY("Temp");
    Tick("Rain");
    Form.ShowTablesDialog = [&](TTablesDlg& dialog) {
        Ui.OpenAnswers.push_back(Regression);
        dialog.OpenBtnClick();
        dialog.CancelBtnClick();
    };
    Form.Button2->click();
    EXPECT_FALSE(Data.DataQuery.Active());
    EXPECT_THAT(Items(), ElementsAre("Rain", "Temp", "Wind"));
    EXPECT_EQ(Form.ComboBox1->currentText(), "Temp");
    EXPECT_FALSE(Form.Button1->isEnabled());
    EXPECT_FALSE(Form.Button3->isEnabled());
    EXPECT_FALSE(Form.Button4->isEnabled());
    EXPECT_FALSE(Form.Refresh1->isEnabled());
}

TEST_F(MainWindow, RefreshRebuildsTheListsAndLosesTheChoice)
{
    Import(Regression, "Weather");
    ChooseY("Temp");
    Tick("Rain");
    Form.Refresh1->trigger();
    EXPECT_EQ(Form.ComboBox1->currentIndex(), -1);
    EXPECT_TRUE(Ticked().empty());
    ChooseY("Temp");
    Tick("Rain");
    Form.Button4->click();
    EXPECT_EQ(Form.ComboBox1->currentIndex(), -1);
}

TEST_F(MainWindow, HelpOpensTheHelpFileOnlyWhenPresent)
{
    Form.Button6->click();
    EXPECT_TRUE(Ui.Opened.empty());
    EXPECT_TRUE(Ui.Errors.empty());
    WriteBytes(Folder / "StatHlp.chm", "help");
    Form.Button6->click();
    EXPECT_THAT(Ui.Opened, ElementsAre((Folder / "StatHlp.chm").string()));
}
