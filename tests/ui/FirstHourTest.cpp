// The desktop as a forecaster meets it in the first hour: the equation read whole, Qt's own
// texts in Chinese, and everything reachable from the keyboard.

#include <QAbstractItemView>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <QtTest/QTest>
#include <gmock/gmock.h>

#include <fstream>

#include "tests/ui/DesktopFixture.h"
#include "data/windows/QtUserInterface.h"
#include "ui/QtTranslations.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;

namespace {

constexpr QChar BreakMark(0x200B);

// What a Qt message box shows: its label's text, the marks where lines may break left out.
struct SeenBox {
    QString Caption;
    QString Text;
    QString Shown;
    int Width = 0;
    bool OnScreen = false;
    int LabelHeight = 0;
    int LabelWidth = 0;
    int LabelNeeds = 0;  // the height its text takes at its width
    bool LabelInside = false;
    int LineHeight = 0;
    int LineWidth = 0;    // of the whole text on one line
    int WidestPiece = 0;  // of the pieces between places a line may break
    bool Selectable = false;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QString Copied;
};

// Shows a message through the real user interface and looks at the box before closing it; the
// user selects all of its text and copies it.
SeenBox LookAtBox(const std::string& text, const std::string& caption)
{
    SeenBox seen;
    QTimer::singleShot(0, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        auto* label = box->findChild<QLabel*>(QStringLiteral("WholeText"));
        ASSERT_NE(label, nullptr);
        seen.Caption = box->windowTitle();
        seen.Text = box->text();
        seen.Shown = label->text();
        seen.Width = box->frameGeometry().width();
        seen.OnScreen = box->screen()->availableGeometry().contains(box->frameGeometry());
        seen.LabelHeight = label->height();
        seen.LabelWidth = label->width();
        seen.LabelNeeds = label->heightForWidth(label->width());
        seen.LabelInside = box->rect().contains(QRect(label->mapTo(box, QPoint(0, 0)), label->size()));
        seen.LineHeight = label->fontMetrics().height();
        seen.LineWidth = label->fontMetrics().horizontalAdvance(box->text());
        for (const QString& piece : label->text().split(BreakMark))
            seen.WidestPiece = std::max(seen.WidestPiece, label->fontMetrics().horizontalAdvance(piece));
        seen.Selectable = (label->textInteractionFlags() & Qt::TextSelectableByMouse) != 0;
        seen.Icon = box->icon();
        label->setFocus();
        QTest::keyClick(label, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
        seen.Copied = QGuiApplication::clipboard()->text();
        box->accept();
    });
    TQtUserInterface ui;
    ui.MessageBox(text, caption, MB_OK | MB_ICONQUESTION);
    return seen;
}

class FirstHour : public Desktop {
protected:
    void ShowAndActivate(QWidget& window)
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    // Where the focus goes with each press of Tab, starting at `first`.
    static std::vector<std::string> TabOrder(QWidget* first, int presses)
    {
        first->setFocus(Qt::TabFocusReason);
        std::vector<std::string> names;
        for (int i = 0; i < presses; ++i) {
            QWidget* now = QApplication::focusWidget();
            names.push_back(now ? now->objectName().toStdString() : "(none)");
            if (now) QTest::keyClick(now, Qt::Key_Tab);
        }
        return names;
    }
};

// Run on screens of several sizes (tests/CMakeLists.txt): Qt caps a message box's width by
// the screen's, and the equation must neither be cut nor leave the screen on any of them.
TEST_F(FirstHour, TheWholeEquationShowsOnAnyScreenAndCopiesIntact)
{
    Import(Regression, "ElNino");
    ChooseY("DEC");
    Form.Selectall1Click();
    Form.ComboBox2->setCurrentIndex(1);
    Form.ComboBox2Change();
    Form.Button1Click();
    ASSERT_FALSE(Ui.Boxes.empty());
    const std::string equation = Ui.Boxes.front().Text;
    ASSERT_GT(equation.size(), 100u) << "twelve factors make a long equation";

    const SeenBox seen = LookAtBox(equation, "回归方程为:");
    EXPECT_EQ(seen.Caption, "回归方程为:");
    EXPECT_EQ(seen.Text.toStdString(), equation);
    EXPECT_EQ(QString(seen.Shown).remove(BreakMark).toStdString(), equation);
    EXPECT_EQ(seen.Icon, QMessageBox::Question);
    EXPECT_TRUE(seen.Selectable);
    EXPECT_LE(seen.Width, QGuiApplication::primaryScreen()->availableGeometry().width());
    EXPECT_TRUE(seen.OnScreen);
    if (seen.LineWidth > seen.LabelWidth) {
        EXPECT_GE(seen.LabelHeight, 2 * seen.LineHeight) << "too long for one line, so it wraps";
    }
    EXPECT_LE(seen.WidestPiece, seen.LabelWidth) << "a term is never cut";
    EXPECT_TRUE(seen.LabelInside) << "the whole text is inside the box";
    EXPECT_GE(seen.LabelHeight, seen.LabelNeeds) << "no line is cut off";
    EXPECT_EQ(seen.Copied.toStdString(), equation);
}

TEST_F(FirstHour, LinesBreakOnlyBeforeTheSignOfATerm)
{
    const SeenBox seen = LookAtBox("Y=-1.5+2.5e-05*X1-0.25*X2", "回归方程为:");
    const QStringList pieces = seen.Shown.split(BreakMark);
    EXPECT_THAT(pieces, ElementsAre("Y=-1.5", "+2.5e-05*X1", "-0.25*X2"));
}

TEST_F(FirstHour, QtsOwnTextsAreChineseAndTheSystemsOwnStayAsTheyAre)
{
    QTranslator* translator = InstallQtTranslations(*qApp);
    ASSERT_NE(translator, nullptr) << "Qt's Chinese catalogue is missing";
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    const QString yes = box.button(QMessageBox::Yes)->text();
    const QString no = box.button(QMessageBox::No)->text();
    EXPECT_TRUE(yes.contains(QStringLiteral("是"))) << yes.toStdString();
    EXPECT_TRUE(no.contains(QStringLiteral("否"))) << no.toStdString();
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "&Open"), "&Open");
    EXPECT_NE(QCoreApplication::translate("QLineEdit", "&Undo"), "&Undo");

    TTablesDlg dialog(&Form, Data, Ui);
    EXPECT_EQ(dialog.OKBtn->text(), "OK");
    EXPECT_EQ(dialog.CancelBtn->text(), "Cancel");
    EXPECT_EQ(Form.Button2->text(), "导入数据表");
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST_F(FirstHour, TabGoesDownTheButtonsThenThroughTheChoices)
{
    ShowAndActivate(Form);
    Import(Regression, "Weather");
    ChooseY("Rain");
    EXPECT_THAT(TabOrder(Form.Button1, 11),
                ElementsAre("Button1", "Button2", "Button3", "Button4", "Button6", "Button7", "ComboBox1",
                            "CheckListBox1", "MaskEdit1", "ComboBox2", "Button1"));
    Form.hide();
}

// The whole import from the keyboard: the folder button has the focus, Enter opens the file
// dialog, the list takes the focus, Down selects, Enter is OK; Tab reaches every control.
TEST_F(FirstHour, TheTableDialogIsUsedFromTheKeyboard)
{
    TTablesDlg dialog(&Form, Data, Ui);
    ShowAndActivate(dialog);
    EXPECT_EQ(QApplication::focusWidget(), dialog.OpenBtn);
    EXPECT_THAT(TabOrder(dialog.OpenBtn, 4), ElementsAre("OpenBtn", "ListTables", "CancelBtn", "OpenBtn"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), dialog.OpenBtn);

    Ui.OpenAnswers.push_back(Regression);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(Ui.OpenTitles.size(), 1u) << "Enter on the folder button opens the file dialog";
    EXPECT_EQ(dialog.result(), 0) << "and does not close the table dialog";
    EXPECT_EQ(QApplication::focusWidget(), dialog.ListTables);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    ASSERT_TRUE(dialog.OKBtn->isEnabled());
    EXPECT_THAT(TabOrder(dialog.OKBtn, 5), ElementsAre("OKBtn", "CancelBtn", "OpenBtn", "ListTables", "OKBtn"));

    // Both shortcuts press the folder button wherever the focus is; Cancel leaves the file chosen.
    for (const QKeyCombination keys : {Qt::CTRL | Qt::Key_O, Qt::ALT | Qt::Key_O}) {
        Ui.OpenAnswers.push_back(std::nullopt);
        QTest::keyClick(dialog.ListTables, keys.key(), keys.keyboardModifiers());
    }
    EXPECT_EQ(Ui.OpenTitles.size(), 3u);
    EXPECT_EQ(dialog.EditFile->text().toStdString(), Regression);

    dialog.ListTables->setFocus();
    QTest::keyClick(dialog.ListTables, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.FileName, Regression);
    EXPECT_EQ(dialog.TableName, dialog.ListTables->item(0)->text().toStdString());
}

// The file dialog itself: Access databases of both kinds first, in any letter case, the
// patterns shown as a user reads them.
TEST_F(FirstHour, TheOpenDialogOffersEveryAccessDatabaseInAnyLetterCase)
{
    for (const char* name : {"a.MDB", "b.Accdb", "c.mdb", "d.txt", "e.accdb.bak"}) std::ofstream(Folder / name) << "x";
    QStringList filters;
    QStringList listed;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        dialog->setDirectory(QString::fromStdString(Folder.Path().string()));
        auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 3; }, 5000));
        for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
            listed << view->model()->index(r, 0, view->rootIndex()).data().toString();
        dialog->reject();
    });
    TQtUserInterface ui;
    EXPECT_EQ(ui.OpenFileName("打开", AccessFileFilters()), std::nullopt);
    EXPECT_THAT(filters, ElementsAre("Access 数据库 (*.mdb *.accdb)", "Access Files(*.mdb)"));
    listed.sort();
    EXPECT_THAT(listed, ElementsAre("a.MDB", "b.Accdb", "c.mdb"));
}

TEST_F(FirstHour, ArrowKeysSelectATableEvenWhenItIsTheOnlyOne)
{
    TTablesDlg dialog(&Form, Data, Ui);
    ShowAndActivate(dialog);
    dialog.ChooseFile(Regression);
    ASSERT_GT(dialog.ListTables->count(), 2);
    dialog.ListTables->setFocus();
    // The first press selects the table the list shows as current, as a list box does.
    QTest::keyClick(dialog.ListTables, Qt::Key_Down);
    ASSERT_EQ(dialog.ListTables->selectedItems().size(), 1);
    EXPECT_EQ(dialog.ListTables->currentRow(), 0);
    QTest::keyClick(dialog.ListTables, Qt::Key_Down);
    ASSERT_EQ(dialog.ListTables->selectedItems().size(), 1);
    EXPECT_EQ(dialog.ListTables->currentRow(), 1);
    EXPECT_TRUE(dialog.OKBtn->isEnabled());

    // One table listed and the list entered with Tab, which makes the table current without
    // selecting it: Down has nowhere to go, and selects it all the same.
    dialog.ListTables->clear();
    dialog.OKBtn->setEnabled(false);
    dialog.ListTables->addItem(QStringLiteral("Weather"));
    dialog.OpenBtn->setFocus();
    QTest::keyClick(dialog.OpenBtn, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), dialog.ListTables);
    QTest::keyClick(dialog.ListTables, Qt::Key_Down);
    ASSERT_EQ(dialog.ListTables->selectedItems().size(), 1);
    EXPECT_TRUE(dialog.OKBtn->isEnabled());
    dialog.OKBtnClick();
    EXPECT_EQ(dialog.TableName, "Weather");
    dialog.reject();
}

TEST_F(FirstHour, ShiftF10AndTheMenuKeyOpenTheFactorListsMenu)
{
    ShowAndActivate(Form);
    Import(Regression, "Weather");
    for (const auto& [key, modifiers] : {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Menu, Qt::NoModifier}}) {
        Form.CheckListBox1->setFocus();
        QTest::keyClick(Form.CheckListBox1, key, modifiers);
        EXPECT_TRUE(Form.PopupMenu1->isVisible()) << key;
        EXPECT_TRUE(Form.Selectall1->isEnabled());
        Form.PopupMenu1->hide();
    }
    // F10 alone is no request for the menu.
    Form.CheckListBox1->setFocus();
    QTest::keyClick(Form.CheckListBox1, Qt::Key_F10);
    EXPECT_FALSE(Form.PopupMenu1->isVisible());
    Form.hide();
}

TEST_F(FirstHour, ADatabaseOpenedFromTheDesktopListsItsTables)
{
    std::vector<std::string> listed;
    Form.ShowTablesDialog = [&](TTablesDlg& dialog) {
        for (int i = 0; i < dialog.ListTables->count(); ++i) listed.push_back(dialog.ListTables->item(i)->text().toStdString());
        dialog.ListTables->setCurrentRow(static_cast<int>(std::find(listed.begin(), listed.end(), "Weather") - listed.begin()));
        dialog.OKBtnClick();
    };
    Form.ImportFrom(Regression);
    EXPECT_THAT(listed, ::testing::Contains("ElNino"));
    EXPECT_THAT(Items(), ElementsAre("Rain", "Temp", "Wind"));
}

TEST_F(FirstHour, ListingTheTablesOfAFileIsABusySpell)
{
    TTablesDlg dialog(&Form, Data, Ui);
    const int before = Ui.BusySpells;
    dialog.ChooseFile(Regression);
    EXPECT_EQ(Ui.BusySpells, before + 1);
    EXPECT_EQ(Ui.Busy, 0);
}

}  // namespace
