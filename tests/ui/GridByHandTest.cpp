// The grid driven as a person drives it: mouse clicks at a cell's place on the screen and keys
// sent to whatever widget has the focus, then the file read back by a connection of its own.

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gmock/gmock.h>

#include <filesystem>

#include "tests/ui/DesktopFixture.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace {

namespace fs = std::filesystem;
using Table = std::vector<std::vector<std::string>>;

// The cells where two readings of a table differ, "row,column: read / expected".
std::vector<std::string> Differences(const Table& read, const Table& expected)
{
    std::vector<std::string> found;
    if (read.size() != expected.size()) return {"records: " + std::to_string(read.size()) + " / " + std::to_string(expected.size())};
    for (std::size_t r = 0; r < read.size(); ++r)
        for (std::size_t c = 0; c < std::max(read[r].size(), expected[r].size()); ++c) {
            const std::string a = c < read[r].size() ? read[r][c] : "(none)";
            const std::string b = c < expected[r].size() ? expected[r][c] : "(none)";
            if (a != b) found.push_back(std::to_string(r) + "," + std::to_string(c) + ": " + a + " / " + b);
        }
    return found;
}

class GridByHand : public Desktop {
protected:
    // A writable copy of the test database, the table opened and the browser shown and active.
    void Open(const std::string& table, const std::string& source = "")
    {
        if (!fs::exists(Copy)) {
            fs::copy_file(source.empty() ? Regression : source, Copy);
            fs::permissions(Copy, fs::perms::owner_write, fs::perm_options::add);
        }
        Import(Copy, table);
        Form.Button3->click();
        Grid.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Grid));
        Grid.GridDatabase->setFocus();
        Before = Stored(table);
    }

    // Every cell of the table as a connection of its own reads the file.
    Table Stored(const std::string& table) const
    {
        OwnReading own(Copy, table);
        TMdbQuery& query = own.Query;
        Table cells(static_cast<std::size_t>(query.RecordCount()));
        for (int r = 0; r < query.RecordCount(); ++r)
            for (int c = 0; c < query.FieldCount(); ++c) cells[static_cast<std::size_t>(r)].push_back(query.DisplayText(r, c));
        return cells;
    }
    // The table as it was opened, with one cell changed.
    Table BeforeWith(int row, int column, const std::string& text) const
    {
        Table expected = Before;
        expected.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(column)) = text;
        return expected;
    }
    int Column(const std::string& name) const { return Data.DataQuery.FindField(name); }

    QPoint At(int row, int column) const
    {
        const QModelIndex index = Grid.Model->index(row, column);
        Grid.GridDatabase->scrollTo(index);
        return Grid.GridDatabase->visualRect(index).center();
    }
    void Click(int row, int column) { QTest::mouseClick(Grid.GridDatabase->viewport(), Qt::LeftButton, {}, At(row, column)); }
    void DoubleClick(int row, int column)
    {
        // A widget is sent the second press as a double-click event alone.
        const QPoint place = At(row, column);
        QTest::mouseClick(Grid.GridDatabase->viewport(), Qt::LeftButton, {}, place);
        QTest::mouseDClick(Grid.GridDatabase->viewport(), Qt::LeftButton, {}, place);
    }
    static QWidget* Focused()
    {
        QWidget* focused = QApplication::focusWidget();
        EXPECT_NE(focused, nullptr);
        return focused;
    }
    // Keys go where the keyboard goes: the grid, then the cell's editor once typing opened it.
    static void Keys(const QString& text)
    {
        for (const QChar c : text) QTest::keyClick(Focused(), c.toLatin1());
    }
    static void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(Focused(), key, modifiers); }
    // Text an input method commits, as Chinese, Cyrillic or Greek is typed.
    static void Compose(const QString& text)
    {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(Focused(), &commit);
    }
    // Click, F2, the whole text replaced through an input method, then a key that leaves the cell.
    void Retype(int row, int column, const char* text, Qt::Key leave)
    {
        Click(row, column);
        Key(Qt::Key_F2);
        ASSERT_NE(Editor(), nullptr);
        Editor()->selectAll();
        Compose(QString::fromUtf8(text));
        Key(leave);
    }
    int RowWith(int column, const std::string& text) const
    {
        for (int r = 0; r < Grid.Model->rowCount(); ++r)
            if (Cell(r, column) == text) return r;
        ADD_FAILURE() << "no row holds " << text;
        return 0;
    }
    void Press(TDBNavigator::Button b)
    {
        QToolButton* button = Grid.NaviDatabase->ButtonAt(b);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }
    QLineEdit* Editor() const
    {
        return qobject_cast<QLineEdit*>(Grid.GridDatabase->indexWidget(Grid.GridDatabase->currentIndex()));
    }
    std::string Cell(int row, int column) const
    {
        return Grid.Model->data(Grid.Model->index(row, column), Qt::DisplayRole).toString().toStdString();
    }
    QModelIndex Current() const { return Grid.GridDatabase->currentIndex(); }

    const std::string Copy = (Folder / "copy.mdb").string();
    TMdbQuery& Query = Data.DataQuery;
    Table Before;
};

}  // namespace

// One click on a cell makes it the one typing replaces; moving down posts that cell and nothing
// else, without a key lost.
TEST_F(GridByHand, ClickTypeAndDownChangeExactlyTheClickedCell)
{
    Open("ElNino");
    const int may = Column("MAY");
    const int row1955 = 5;
    ASSERT_EQ(Cell(row1955, 0), "1955");
    Click(row1955, may);
    EXPECT_EQ(Current(), Grid.Model->index(row1955, may));
    Keys("25.5");
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), "25.5");
    Key(Qt::Key_Down);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_THAT(Differences(Stored("ElNino"), BeforeWith(row1955, may, "25.5")), ::testing::IsEmpty());
    EXPECT_EQ(Current(), Grid.Model->index(row1955 + 1, may));

    // Another cell of another row, typed into at once: the same path.
    Click(2, Column("OCT"));
    Keys("-1.25");
    Key(Qt::Key_Up);
    Table expected = BeforeWith(row1955, may, "25.5");
    expected[2][static_cast<std::size_t>(Column("OCT"))] = "-1.25";
    EXPECT_THAT(Differences(Stored("ElNino"), expected), ::testing::IsEmpty());
    EXPECT_EQ(Current(), Grid.Model->index(1, Column("OCT")));
}

// A station keyed by its name in Cyrillic gets a Chinese name typed through an input method, then
// a new key: both go into the file, keyed among the Latin, Chinese and Greek ones.
TEST_F(GridByHand, AStationKeyedInAnotherScriptIsRenamedAndRekeyedByHand)
{
    Open("StationList", DataFile("textkeyed.mdb"));
    const int code = Column("Code"), name = Column("Name");
    const int moscow = RowWith(code, "Москва");
    Retype(moscow, name, "莫斯科 观象台", Qt::Key_Down);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    Table expected = BeforeWith(moscow, name, "莫斯科 观象台");
    EXPECT_THAT(Differences(Stored("StationList"), expected), ::testing::IsEmpty());

    Retype(moscow, code, "Μόσχα", Qt::Key_Up);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    expected[static_cast<std::size_t>(moscow)][static_cast<std::size_t>(code)] = "Μόσχα";
    EXPECT_THAT(Differences(Stored("StationList"), expected), ::testing::IsEmpty());
}

// F2 and a double click edit the text in place; Esc drops the edit and the record leaves editing.
TEST_F(GridByHand, F2AndDoubleClickEditInPlaceAndEscCancels)
{
    Open("ElNino");
    const int jul = Column("JUL");
    Click(3, jul);
    Key(Qt::Key_F2);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text().toStdString(), Before[3][static_cast<std::size_t>(jul)]);
    Key(Qt::Key_End);
    Keys("1");
    Key(Qt::Key_Escape);
    EXPECT_EQ(Query.State(), TDataSetState::Browse);
    EXPECT_EQ(Cell(3, jul), Before[3][static_cast<std::size_t>(jul)]);

    const int aug = Column("AUG");
    DoubleClick(4, aug);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Current(), Grid.Model->index(4, aug));
    Key(Qt::Key_Home);
    Keys("1");
    Key(Qt::Key_Return);
    Key(Qt::Key_Down);
    EXPECT_THAT(Differences(Stored("ElNino"), BeforeWith(4, aug, "1" + Before[4][static_cast<std::size_t>(aug)])), ::testing::IsEmpty());
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
}

// Tab and the arrow keys move the current cell; what is typed goes where they moved it.
TEST_F(GridByHand, TabAndArrowsMoveTheCellThatTypingEdits)
{
    Open("ElNino");
    Click(7, Column("JAN"));
    Key(Qt::Key_Tab);
    EXPECT_EQ(Current(), Grid.Model->index(7, Column("FEB")));
    Key(Qt::Key_Right);
    Key(Qt::Key_Down);
    EXPECT_EQ(Current(), Grid.Model->index(8, Column("MAR")));
    Keys("19.5");
    Key(Qt::Key_Tab);  // takes the text; the record stays the current one
    EXPECT_EQ(Current(), Grid.Model->index(8, Column("APR")));
    Keys("20");
    Key(Qt::Key_Left);  // the caret moves in the editor, the cell stays
    Key(Qt::Key_Return);
    Press(TDBNavigator::nbPost);
    Table expected = BeforeWith(8, Column("MAR"), "19.5");
    expected[8][static_cast<std::size_t>(Column("APR"))] = "20";
    EXPECT_THAT(Differences(Stored("ElNino"), expected), ::testing::IsEmpty());
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
}

// The navigator's post button takes the editor's text as Enter would, on a number, a text and a
// date field; what cannot be stored is shown, and the typed text stays in the record being edited.
TEST_F(GridByHand, PostWithTheEditorOpenTakesItsTextAndShowsWhatCannotBeStored)
{
    Open("Types");
    const int note = Column("Note");
    const int date = Column("D");
    Click(1, note);
    Keys("fourth");
    Press(TDBNavigator::nbPost);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    Table expected = BeforeWith(1, note, "fourth");
    EXPECT_THAT(Differences(Stored("Types"), expected), ::testing::IsEmpty());

    Click(2, date);
    Keys("2001-03-04");
    Press(TDBNavigator::nbPost);
    EXPECT_THAT(Ui.Errors, ::testing::IsEmpty());
    const std::string storedDate = Stored("Types")[2][static_cast<std::size_t>(date)];
    EXPECT_THAT(storedDate, ::testing::StartsWith("2001-03-04"));
    expected[2][static_cast<std::size_t>(date)] = storedDate;

    for (const auto& [field, typed] : {std::pair{"F", "abc"}, std::pair{"I", "6.5"}}) {
        const int column = Column(field);
        Ui.Errors.clear();
        Click(0, column);
        Keys(typed);
        Press(TDBNavigator::nbPost);
        ASSERT_EQ(Ui.Errors.size(), 1u) << field;
        EXPECT_THAT(Ui.Errors[0], ::testing::HasSubstr(typed));
        EXPECT_EQ(Query.State(), TDataSetState::Edit) << field;
        EXPECT_EQ(Cell(0, column), typed) << field;
        EXPECT_THAT(Differences(Stored("Types"), expected), ::testing::IsEmpty()) << field;
        // Enter with the same text says it again; Esc then the navigator's cancel drop it.
        Click(0, column);
        Key(Qt::Key_F2);
        Key(Qt::Key_Return);
        Press(TDBNavigator::nbPost);
        EXPECT_EQ(Ui.Errors.size(), 2u) << field;
        Press(TDBNavigator::nbCancel);
        EXPECT_EQ(Query.State(), TDataSetState::Browse) << field;
        EXPECT_EQ(Cell(0, column), Before[0][static_cast<std::size_t>(column)]) << field;
    }
    EXPECT_THAT(Differences(Stored("Types"), expected), ::testing::IsEmpty());
}
