#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <gmock/gmock.h>

#include <filesystem>

#include "tests/ui/DesktopFixture.h"
#include "data/format/read/Database.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;

using TablesDialog = Desktop;
using Browser = Desktop;

TEST_F(TablesDialog, StartsEmptyAndCancelHandsBackNothing)
{
    TTablesDlg dialog(&Form, Data, Ui);
    EXPECT_EQ(dialog.windowTitle(), "选择数据表");
    EXPECT_FALSE(dialog.EditFile->isEnabled());
    EXPECT_TRUE(dialog.EditFile->text().isEmpty());
    EXPECT_EQ(dialog.ListTables->count(), 0);
    EXPECT_FALSE(dialog.OKBtn->isEnabled());
    EXPECT_EQ(dialog.OpenBtn->toolTip(), "选取文件");
    EXPECT_EQ(dialog.Label2->text(), "数据库中的表,  请选择一项:");
    Ui.OpenAnswers.push_back(Regression);
    dialog.OpenBtnClick();
    dialog.ListTables->setCurrentRow(0);
    dialog.CancelBtnClick();
    EXPECT_TRUE(dialog.FileName.empty());
    EXPECT_TRUE(dialog.TableName.empty());
    EXPECT_THAT(Ui.OpenTitles, ElementsAre("打开"));
    ASSERT_EQ(Ui.LastOpenFilters.size(), 2u);
    EXPECT_EQ(Ui.LastOpenFilters[0].Description, "Access 数据库");
    EXPECT_THAT(Ui.LastOpenFilters[0].Patterns, ElementsAre("*.mdb", "*.accdb"));
    EXPECT_EQ(Ui.LastOpenFilters[1].Description, "Access Files(*.mdb)");
}

TEST_F(TablesDialog, ChoosingAFileListsTablesAndViewsAndOkNeedsASelection)
{
    TTablesDlg dialog(&Form, Data, Ui);
    Ui.OpenAnswers.push_back(Regression);
    dialog.OpenBtnClick();
    ASSERT_EQ(dialog.ListTables->count(), 18);
    EXPECT_EQ(dialog.ListTables->item(0)->text(), "Constant");
    EXPECT_EQ(dialog.ListTables->item(17)->text(), "WarmDays");
    EXPECT_FALSE(dialog.OKBtn->isEnabled());
    EXPECT_TRUE(Data.DataConn.Connected());
    // Keys move the selection as a click does.
    dialog.ListTables->setFocus();
    dialog.ListTables->setCurrentRow(3);
    EXPECT_TRUE(dialog.OKBtn->isEnabled());
    // The same file again changes nothing; another path disables OK.
    Ui.OpenAnswers.push_back(Regression);
    dialog.OpenBtnClick();
    EXPECT_TRUE(dialog.OKBtn->isEnabled());
    EXPECT_EQ(dialog.ListTables->currentRow(), 3);
    dialog.OKBtnClick();
    EXPECT_EQ(dialog.FileName, Regression);
    EXPECT_EQ(dialog.TableName, "Keyed");
}

TEST_F(TablesDialog, PathsThatAreNoDatabaseListNothing)
{
    Import(Regression, "Weather");
    TTablesDlg dialog(&Form, Data, Ui);
    Ui.OpenAnswers.push_back((Folder / "nothing.mdb").string());
    dialog.OpenBtnClick();
    EXPECT_EQ(dialog.ListTables->count(), 0);
    EXPECT_TRUE(Data.DataQuery.Active());  // no file, no connection attempt
    WriteBytes(Folder / "text.mdb", "no database");
    Ui.OpenAnswers.push_back((Folder / "text.mdb").string());
    dialog.OpenBtnClick();
    EXPECT_EQ(dialog.ListTables->count(), 0);
    EXPECT_FALSE(Data.DataQuery.Active());  // the open table was closed
    EXPECT_FALSE(dialog.OKBtn->isEnabled());
    EXPECT_TRUE(Ui.Errors.empty());
}

TEST_F(Browser, ShowsTheOpenTableAndFollowsTheQuery)
{
    Import(DataFile("regression.mdb"), "ElNino");
    Form.Button3->click();
    EXPECT_TRUE(Grid.isVisible());
    EXPECT_EQ(Grid.Model->rowCount(), 61);
    EXPECT_EQ(Grid.Model->columnCount(), 13);
    EXPECT_EQ(Grid.Model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "YEAR");
    EXPECT_EQ(Grid.Model->data(Grid.Model->index(0, 0), Qt::DisplayRole).toString(), "1950");
    EXPECT_EQ(Grid.Model->data(Grid.Model->index(0, 1), Qt::DisplayRole).toString(), "23.11");

    // The navigator moves the query and the grid marks the record.
    Grid.NaviDatabase->ButtonAt(TDBNavigator::nbNext)->click();
    Grid.NaviDatabase->ButtonAt(TDBNavigator::nbNext)->click();
    EXPECT_EQ(Data.DataQuery.RecNo(), 3);
    EXPECT_EQ(Grid.GridDatabase->currentIndex().row(), 2);
    EXPECT_EQ(Grid.Model->headerData(2, Qt::Vertical, Qt::DisplayRole).toString(), "▶");
    // Choosing a row in the grid moves the query.
    Grid.GridDatabase->selectRow(10);
    EXPECT_EQ(Data.DataQuery.RecNo(), 11);

    // Browsing: nothing to post or cancel; editing is offered as far as the file allows it.
    EXPECT_FALSE(Grid.NaviDatabase->ButtonAt(TDBNavigator::nbPost)->isEnabled());
    EXPECT_FALSE(Grid.NaviDatabase->ButtonAt(TDBNavigator::nbCancel)->isEnabled());
    for (auto b : {TDBNavigator::nbInsert, TDBNavigator::nbDelete, TDBNavigator::nbEdit})
        EXPECT_EQ(Grid.NaviDatabase->ButtonAt(b)->isEnabled(), Data.DataQuery.CanModify());
    EXPECT_TRUE(Grid.NaviDatabase->ButtonAt(TDBNavigator::nbRefresh)->isEnabled());

    // Closing hides; showing again keeps the current record.
    Grid.close();
    EXPECT_FALSE(Grid.isVisible());
    Form.Button3->click();
    EXPECT_EQ(Data.DataQuery.RecNo(), 11);
    Grid.NaviDatabase->ButtonAt(TDBNavigator::nbRefresh)->click();
    EXPECT_EQ(Data.DataQuery.RecNo(), 11);
    EXPECT_EQ(Grid.Model->rowCount(), 61);
}

TEST_F(Browser, StaysStillWhileTheStatisticsRead)
{
    Import(Regression, "Weather");
    Form.Button3->click();
    Grid.GridDatabase->selectRow(4);
    int resets = 0;
    QObject::connect(Grid.Model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    int moves = 0;
    QObject::connect(Grid.Model, &TQueryModel::CurrentRecordChanged, [&](int) { ++moves; });
    ChooseY("Rain");
    Form.Selectall1->trigger();
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    EXPECT_EQ(Data.DataQuery.RecNo(), 5);
    EXPECT_EQ(Grid.GridDatabase->currentIndex().row(), 4);
    // One refresh as each pass resumes the controls, never a step per record.
    EXPECT_LE(moves, 3);
}

TEST_F(Browser, AnotherTableReplacesTheGridAndChoosingAFileEmptiesIt)
{
    Import(Regression, "Weather");
    Form.Button3->click();
    Import(Regression, "Sample");
    EXPECT_EQ(Grid.Model->columnCount(), 3);
    EXPECT_EQ(Grid.Model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "y");
    EXPECT_EQ(Grid.Model->rowCount(), 5);

    TTablesDlg dialog(&Form, Data, Ui);
    Ui.OpenAnswers.push_back(Regression);
    dialog.OpenBtnClick();
    EXPECT_EQ(Grid.Model->rowCount(), 0);
    EXPECT_EQ(Grid.Model->columnCount(), 0);
    for (int b = 0; b < 10; ++b)
        EXPECT_FALSE(Grid.NaviDatabase->ButtonAt(static_cast<TDBNavigator::Button>(b))->isEnabled()) << b;
}

TEST_F(Browser, FormatsEveryType)
{
    Import(Regression, "Types");
    auto cell = [&](int row, int column) {
        return Grid.Model->data(Grid.Model->index(row, column), Qt::DisplayRole).toString().toStdString();
    };
    EXPECT_EQ(cell(0, 0), "100000");
    EXPECT_EQ(cell(0, 4), "12.34");
    EXPECT_EQ(cell(1, 6), "2000-02-29 12:00:00");
    EXPECT_EQ(cell(0, 6), "1900-01-01");
    EXPECT_EQ(cell(2, 6), "1899-12-30 06:00:00");
    EXPECT_EQ(cell(0, 7), "True");
    EXPECT_EQ(cell(1, 7), "False");
    EXPECT_EQ(cell(0, 8), "first");
}

TEST_F(Browser, ViewsImportComputeAndShowReadOnly)
{
    Import(Regression, "WarmDays");
    EXPECT_THAT(Items(), ElementsAre("Rain", "Temp", "Wind"));
    ChooseY("Rain");
    Form.Selectall1->trigger();
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text.rfind("Rain=", 0), 0u);
    Form.Button3->click();
    EXPECT_GT(Grid.Model->rowCount(), 0);
    EXPECT_FALSE(Grid.NaviDatabase->ButtonAt(TDBNavigator::nbEdit)->isEnabled());
    EXPECT_FALSE(Grid.Model->flags(Grid.Model->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(Browser, ATableThatCannotBeChangedSaysWhyAboveTheGrid)
{
    namespace fs = std::filesystem;
    const fs::path copy = Folder / "copy.mdb";
    fs::copy_file(Regression, copy);
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
    Import(copy.string(), "Plain");
    Form.Button3->click();
    EXPECT_FALSE(Grid.ReadOnlyLine->isVisibleTo(&Grid)) << Grid.ReadOnlyLine->text().toStdString();

    Import(copy.string(), "WarmDays");
    EXPECT_TRUE(Grid.ReadOnlyLine->isVisibleTo(&Grid));
    EXPECT_TRUE(Grid.ReadOnlyLine->text().contains("WarmDays")) << Grid.ReadOnlyLine->text().toStdString();
    EXPECT_EQ(Grid.ReadOnlyLine->text().toStdString(), "只读：" + Data.DataQuery.ReadOnlyReason());

    // Back to a table that can be changed: the line goes.
    Import(copy.string(), "Plain");
    EXPECT_FALSE(Grid.ReadOnlyLine->isVisibleTo(&Grid));
    Grid.close();
}

// Access does not always keep the record count of a table's definition. The table opens whole,
// and the line above the grid says that the count disagrees until a change sets it right.
TEST_F(Browser, ARecordCountAccessDidNotKeepIsToldAboveTheGridUntilAChange)
{
    namespace fs = std::filesystem;
    const fs::path copy = Folder / "counted.mdb";
    fs::copy_file(Regression, copy);
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
    std::size_t at = 0;
    {
        const jet::TDatabase db(copy.string());
        at = std::size_t{db.FindTable("Plain")->Page()} * db.Format().PageSize + db.Format().TdefRowCount;
    }
    std::string bytes = ReadBytes(copy);
    jet::Put32(reinterpret_cast<std::uint8_t*>(bytes.data()) + at, 11);
    WriteBytes(copy, bytes);

    Import(copy.string(), "Plain");
    Form.Button3->click();
    EXPECT_EQ(Grid.Model->rowCount(), 15);
    ASSERT_TRUE(Grid.ReadOnlyLine->isVisibleTo(&Grid));
    EXPECT_TRUE(Grid.ReadOnlyLine->text().contains("holds 15 records where its definition counts 11"))
        << Grid.ReadOnlyLine->text().toStdString();
    EXPECT_TRUE(Grid.NaviDatabase->ButtonAt(TDBNavigator::nbEdit)->isEnabled());

    TMdbQuery& q = Data.DataQuery;
    q.MoveBy(2);
    q.SetFieldText(0, "7.25");
    q.Post();
    EXPECT_FALSE(Grid.ReadOnlyLine->isVisibleTo(&Grid)) << Grid.ReadOnlyLine->text().toStdString();
    Grid.close();
}

TEST_F(Browser, OpenBrowserDoesNotKeepTheProgramAlive)
{
    EXPECT_FALSE(Grid.testAttribute(Qt::WA_QuitOnClose));
    EXPECT_TRUE(Form.testAttribute(Qt::WA_QuitOnClose));
}
