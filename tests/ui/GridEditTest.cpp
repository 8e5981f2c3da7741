#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <gmock/gmock.h>

#include <QFontMetrics>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/ui/DesktopFixture.h"
#include "data/reading/Isolation.h"
#include "support/NumberText.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

namespace fs = std::filesystem;

class GridEdit : public Desktop {
protected:
    // A writable copy of the test database, the table opened and the browser shown.
    void OpenCopy(const std::string& table)
    {
        fs::copy_file(Regression, Copy, fs::copy_options::overwrite_existing);
        fs::permissions(Copy, fs::perms::owner_write, fs::perm_options::add);
        Import(Copy, table);
        Form.Button3->click();
    }
    // One field of every record, as a connection of its own reads the file.
    std::vector<double> Stored(const std::string& table, const std::string& field) const
    {
        OwnReading own(Copy, table);
        TMdbQuery& query = own.Query;
        return ColumnValues(query, field);
    }
    void Press(TDBNavigator::Button b) { Grid.NaviDatabase->ButtonAt(b)->click(); }
    // The navigator's enabled buttons, first to refresh, as 1 and 0.
    std::string Buttons() const
    {
        std::string states;
        for (int b = TDBNavigator::nbFirst; b <= TDBNavigator::nbRefresh; ++b)
            states += Grid.NaviDatabase->ButtonAt(static_cast<TDBNavigator::Button>(b))->isEnabled() ? '1' : '0';
        return states;
    }
    bool Type(int row, int column, const std::string& text)
    {
        return Grid.Model->setData(Grid.Model->index(row, column), QString::fromStdString(text), Qt::EditRole);
    }
    std::string Cell(int row, int column) const
    {
        return Grid.Model->data(Grid.Model->index(row, column), Qt::DisplayRole).toString().toStdString();
    }
    std::string Mark(int row) const
    {
        return Grid.Model->headerData(row, Qt::Vertical, Qt::DisplayRole).toString().toStdString();
    }
    bool Editable(int row, int column) const
    {
        return Grid.Model->flags(Grid.Model->index(row, column)).testFlag(Qt::ItemIsEditable);
    }
    void CtrlDelete()
    {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::ControlModifier);
        QApplication::sendEvent(Grid.GridDatabase, &key);
    }

    const std::string Copy = (Folder / "copy.mdb").string();
    TMdbQuery& Query = Data.DataQuery;
    // Buttons by state, in the middle of the table.
    static constexpr const char* Browsing = "1111111001";
    static constexpr const char* Editing = "1111000110";
};

}  // namespace

TEST_F(GridEdit, CellEditIsPostedByTheNavigatorOrByLeavingTheRowAndCancelDropsIt)
{
    OpenCopy("Plain");
    const auto x1 = Stored("Plain", "x1");
    const auto x2 = Stored("Plain", "x2");
    Grid.GridDatabase->selectRow(2);
    EXPECT_EQ(Buttons(), Browsing);
    EXPECT_TRUE(Editable(2, 0));
    EXPECT_EQ(Mark(2), "▶");

    // Leaving a cell unchanged starts no edit.
    EXPECT_TRUE(Type(2, 0, Cell(2, 0)));
    EXPECT_EQ(Query.State(), TDataSetState::Browse);

    ASSERT_TRUE(Type(2, 0, "12.5"));
    EXPECT_EQ(Query.State(), TDataSetState::Edit);
    EXPECT_EQ(Cell(2, 0), "12.5");
    EXPECT_EQ(Mark(2), "✎");
    EXPECT_EQ(Buttons(), Editing);
    Press(TDBNavigator::nbPost);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_EQ(Query.RecNo(), 3);
    EXPECT_EQ(Query.AsFloat(0), 12.5);
    EXPECT_EQ(Mark(2), "▶");
    EXPECT_EQ(Buttons(), Browsing);
    auto expected = x1;
    expected[2] = 12.5;
    EXPECT_EQ(Stored("Plain", "x1"), expected);

    const std::string shown = Cell(2, 1);
    Type(2, 1, "1");
    Press(TDBNavigator::nbCancel);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_EQ(Cell(2, 1), shown);
    EXPECT_EQ(Stored("Plain", "x2"), x2);

    Type(2, 1, "7.25");
    Grid.GridDatabase->selectRow(4);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_EQ(Query.RecNo(), 5);
    expected = x2;
    expected[2] = 7.25;

    // Text still in the cell's editor is taken by the post button, which takes no focus from it.
    const QModelIndex cell = Grid.Model->index(4, 1);
    Grid.GridDatabase->setCurrentIndex(cell);
    Grid.GridDatabase->edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(Grid.GridDatabase->indexWidget(cell));
    ASSERT_NE(editor, nullptr);
    editor->setText("3.75");
    Press(TDBNavigator::nbPost);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    expected[4] = 3.75;
    EXPECT_EQ(Stored("Plain", "x2"), expected);

    // Opening a cell puts the record into editing; Esc with nothing typed leaves it again.
    Grid.GridDatabase->edit(cell);
    EXPECT_EQ(Query.State(), TDataSetState::Edit);
    EXPECT_EQ(Buttons(), Editing);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Grid.GridDatabase->indexWidget(cell), &esc);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
}

TEST_F(GridEdit, NewRecordIsTypedIntoTheExtraRowAndPosted)
{
    OpenCopy("Keyed");
    const int records = Grid.Model->rowCount();
    Press(TDBNavigator::nbInsert);
    EXPECT_EQ(Query.State(), TDataSetState::Insert);
    ASSERT_EQ(Grid.Model->rowCount(), records + 1);
    EXPECT_EQ(Grid.GridDatabase->currentIndex().row(), records);
    EXPECT_EQ(Mark(records), "*");
    EXPECT_EQ(Buttons(), "1100000110");

    // ID is an AutoNumber field: the database numbers the record.
    for (auto [column, text] : {std::pair{1, "10.5"}, {2, "20.25"}, {3, "30"}})
        ASSERT_TRUE(Type(records, column, text));
    EXPECT_EQ(Cell(records, 2), "20.25");
    const auto idsBefore = Stored("Keyed", "ID");
    Press(TDBNavigator::nbPost);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_EQ(Grid.Model->rowCount(), records + 1);
    EXPECT_EQ(Query.RecNo(), records + 1);
    EXPECT_EQ(Mark(records), "▶");
    const auto ids = Stored("Keyed", "ID");
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(records + 1));
    EXPECT_GT(ids.back(), *std::max_element(idsBefore.begin(), idsBefore.end()));
    EXPECT_EQ(Cell(records, 0), std::to_string(static_cast<long>(ids.back())));
    EXPECT_EQ(Stored("Keyed", "x2").back(), 20.25);

    // Cancelled, a new record is dropped, as it is when left untouched.
    Press(TDBNavigator::nbInsert);
    Type(records + 1, 1, "1");
    Press(TDBNavigator::nbCancel);
    EXPECT_EQ(Grid.Model->rowCount(), records + 1);
    EXPECT_EQ(Query.RecNo(), records + 1);
    // A new record left untouched is dropped when the grid moves away.
    Press(TDBNavigator::nbInsert);
    Grid.GridDatabase->selectRow(1);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_EQ(Grid.Model->rowCount(), records + 1);
    EXPECT_EQ(Query.RecNo(), 2);
    EXPECT_EQ(Grid.GridDatabase->currentIndex().row(), 1);
}

// A record whose relationships take others along is deleted only once the user has been told
// which; one they keep is not deleted, in Access's words.
TEST_F(GridEdit, DeletingARelatedRecordSaysWhatGoesWithIt)
{
    const std::string related = (Folder / "related.mdb").string();
    fs::copy_file(DataFile("related.mdb"), related);
    fs::permissions(related, fs::perms::owner_write, fs::perm_options::add);
    Import(related, "Stations");
    Form.Button3->click();
    const auto observations = [&] { return ReadRecordsIsolated(related, "Observations", false).RecordCount; };
    const std::int32_t before = observations();
    Grid.GridDatabase->selectRow(2);  // Kloten
    Ui.OkCancelAnswers = {IDOK};      // the second question answered Cancel
    Press(TDBNavigator::nbDelete);
    ASSERT_EQ(Ui.Boxes.size(), 2u);
    EXPECT_THAT(Ui.Boxes[1].Text, ::testing::AllOf(::testing::HasSubstr("3 records of the table 'Observations' deleted"),
                                                    ::testing::HasSubstr("9 records of the table 'Months' deleted")));
    EXPECT_EQ(Grid.Model->rowCount(), 3);
    EXPECT_EQ(observations(), before);

    Ui.OkCancelAnswers = {IDOK, IDOK};
    Press(TDBNavigator::nbDelete);
    EXPECT_EQ(Grid.Model->rowCount(), 2);
    EXPECT_EQ(observations(), before - 3);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());

    Grid.close();
    Import(related, "Elements");
    Form.Button3->click();
    Ui.Boxes.clear();
    Ui.OkCancelAnswers = {IDOK};
    Press(TDBNavigator::nbDelete);  // Rain has readings
    EXPECT_EQ(Ui.Boxes.size(), 1u);
    ASSERT_EQ(Ui.Errors.size(), 1u);
    EXPECT_EQ(Ui.Errors[0], "The record cannot be deleted or changed because table 'Readings' includes related records.");
    EXPECT_EQ(Grid.Model->rowCount(), 3);
}

TEST_F(GridEdit, DeleteAsksFirstFromTheNavigatorAndFromTheGrid)
{
    OpenCopy("Plain");
    const auto before = Stored("Plain", "x1");
    Grid.GridDatabase->selectRow(1);
    Press(TDBNavigator::nbDelete);  // answered Cancel
    ASSERT_EQ(Ui.Boxes.size(), 1u);
    EXPECT_EQ(Ui.Boxes[0].Text, "Delete record?");
    EXPECT_EQ(Ui.Boxes[0].Flags & 0x0F, ScriptedUi::OkCancel);
    EXPECT_EQ(Stored("Plain", "x1"), before);

    Ui.OkCancelAnswers.push_back(IDOK);
    Press(TDBNavigator::nbDelete);
    auto expected = before;
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(Grid.Model->rowCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(Stored("Plain", "x1"), expected);

    Grid.GridDatabase->selectRow(3);
    CtrlDelete();  // answered Cancel
    EXPECT_EQ(Ui.Boxes.size(), 3u);
    EXPECT_EQ(Ui.Boxes.back().Text, "Delete record?");
    EXPECT_EQ(Grid.Model->rowCount(), static_cast<int>(expected.size()));
    Ui.OkCancelAnswers.push_back(IDOK);
    CtrlDelete();
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(Stored("Plain", "x1"), expected);
    EXPECT_EQ(Grid.Model->rowCount(), static_cast<int>(expected.size()));
    EXPECT_EQ(Grid.GridDatabase->currentIndex().row(), Query.RecNo() - 1);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
}

TEST_F(GridEdit, RefusedPostIsShownAndTheRecordStaysInEditing)
{
    OpenCopy("Plain");
    const auto before = Stored("Plain", "x1");
    Grid.GridDatabase->selectRow(3);
    Type(3, 0, "abc");
    Press(TDBNavigator::nbPost);
    ASSERT_EQ(Ui.Errors.size(), 1u);
    EXPECT_THAT(Ui.Errors[0], ::testing::HasSubstr("abc"));
    EXPECT_EQ(Query.State(), TDataSetState::Edit);
    EXPECT_EQ(Cell(3, 0), "abc");
    EXPECT_EQ(Mark(3), "✎");
    EXPECT_EQ(Buttons(), Editing);

    // Leaving the record tries the post again; the grid and the query stay on the record.
    Grid.GridDatabase->selectRow(6);
    QApplication::processEvents();
    EXPECT_EQ(Ui.Errors.size(), 2u);
    EXPECT_EQ(Query.RecNo(), 4);
    EXPECT_EQ(Grid.GridDatabase->currentIndex().row(), 3);
    Press(TDBNavigator::nbNext);
    EXPECT_EQ(Ui.Errors.size(), 3u);
    EXPECT_EQ(Query.RecNo(), 4);
    EXPECT_EQ(Query.State(), TDataSetState::Edit);
    EXPECT_EQ(Stored("Plain", "x1"), before);

    Type(3, 0, "8.5");
    Press(TDBNavigator::nbPost);
    EXPECT_EQ(Ui.Errors.size(), 3u);
    EXPECT_EQ(Stored("Plain", "x1")[3], 8.5);

    // A number out of the range of an Integer field.
    Import(Copy, "Types");
    const std::string shown = Cell(0, 1);
    Type(0, 1, "40000");
    Press(TDBNavigator::nbPost);
    EXPECT_EQ(Ui.Errors.size(), 4u);
    EXPECT_EQ(Query.State(), TDataSetState::Edit);
    EXPECT_EQ(Cell(0, 1), "40000");
    Press(TDBNavigator::nbCancel);
    EXPECT_EQ(Cell(0, 1), shown);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
}

TEST_F(GridEdit, ViewsAndReadOnlyFilesOpenWithoutEditing)
{
    auto expectReadOnly = [&] {
        EXPECT_FALSE(Query.CanModify());
        EXPECT_FALSE(Query.ReadOnlyReason().empty());
        EXPECT_EQ(Buttons(), "0011000001");
        EXPECT_FALSE(Editable(0, 0));
        CtrlDelete();
        EXPECT_TRUE(Ui.Boxes.empty());
    };
    OpenCopy("WarmDays");
    expectReadOnly();
    fs::permissions(Copy, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Import(Copy, "Plain");
    expectReadOnly();
    // Closed: nothing at all.
    Query.Close();
    EXPECT_EQ(Buttons(), "0000000000");
}

TEST_F(GridEdit, NumbersShowEveryStoredDigitRightAlignedInColumnsWideEnough)
{
    OpenCopy("Plain");
    const double positive = 0.27413785316541287;
    const double negative = -1234.5678901234567;
    ASSERT_TRUE(Type(0, 0, ShortestText(positive)));
    Press(TDBNavigator::nbPost);
    ASSERT_TRUE(Type(1, 0, ShortestText(negative)));
    Press(TDBNavigator::nbPost);
    ASSERT_THAT(Ui.Errors, ::testing::IsEmpty());
    Import(Copy, "Plain");  // read back from the file, the columns fitted afresh

    const QFontMetrics metrics = Grid.GridDatabase->fontMetrics();
    for (const auto& [row, value] : {std::pair{0, positive}, std::pair{1, negative}}) {
        const std::string text = Cell(row, 0);
        EXPECT_EQ(text, ShortestText(value));
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
        const auto alignment = Grid.Model->data(Grid.Model->index(row, 0), Qt::TextAlignmentRole).value<Qt::Alignment>();
        EXPECT_TRUE(alignment & Qt::AlignRight) << text;
        EXPECT_GE(Grid.GridDatabase->columnWidth(0), metrics.horizontalAdvance(QString::fromStdString(text))) << text;
    }
    EXPECT_EQ(Grid.GridDatabase->textElideMode(), Qt::ElideRight);
}
