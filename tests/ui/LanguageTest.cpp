// A walk through the desktop in the language it speaks: every window, every question and every
// error a forecaster meets on the way is looked at, and none may hold English of ours. What
// stays in English is the system's own fixed texts, the names of tables and fields, the paths
// the user chose, and a few symbols that Chinese texts write in Latin letters too.

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <gmock/gmock.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "tests/ui/DesktopFixture.h"
#include "tests/ui/ShownTexts.h"
#include "tests/TestFiles.h"
#include "data/windows/DlgTables.h"
#include "support/Messages.h"
#include "ui/SkillForm.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::IsEmpty;

namespace {

namespace fs = std::filesystem;

// The system's own texts, which stay exactly as they are in any language.
const std::vector<std::regex>& FixedTexts()
{
    static const std::vector<std::regex> fixed = {
        std::regex(R"(The file already existed\.Overwrite\?)"),
        std::regex(R"(Invalid floating point operation)"),
        std::regex(R"(Floating point division by zero)"),
        std::regex(R"(Floating point overflow)"),
        std::regex(R"('[^']*' is not a valid floating point value)"),
        std::regex(R"(Cannot access field '[^']*' as type Float)"),
        std::regex(R"(Invalid input value\.  Use escape key to abandon changes)"),
        std::regex(R"(Delete record\?)"),
        // The batch command's options, named as they are typed.
        std::regex(R"(--[a-z]+)"),
        std::regex(R"(Access Files\(\*\.mdb\))"),
        std::regex(R"(Txt Files\(\*\.Txt\))"),
        std::regex(R"(DataBase files\(\*\.DB\))"),
        std::regex(R"(^OK$)"),
        std::regex(R"(^Cancel$)"),
        std::regex(R"(^Confirm$)"),
        std::regex(R"(^Message$)"),
        std::regex(R"(^Quorlin$)"),
    };
    return fixed;
}

// Written in Latin letters in Chinese texts as well: the program's and the file format's names,
// statistical symbols, the name of a picture format.
bool IsSymbol(const std::string& word)
{
    static const std::vector<std::string> symbols = {"Quorlin", "Access", "OLE", "ID", "Fa", "Xi",
                                                     "VIF", "RMSE", "MAE", "MSSS", "RPSS", "ROC", "HSS",
                                                     "PNG", "png"};
    return std::find(symbols.begin(), symbols.end(), word) != symbols.end();
}

bool IsLatin(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; }

// The English words left in a text once the fixed texts and the given names are taken out (a
// name only where it stands whole, not inside a longer word); a word is two Latin letters or
// more (single letters are the symbols of statistics: Y, F, b), and a file name's extension
// (".svg") is no word.
std::vector<std::string> EnglishWords(std::string text, std::vector<std::string> names)
{
    for (const std::regex& fixed : FixedTexts()) text = std::regex_replace(text, fixed, " ");
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& name : names) {
        if (name.empty()) continue;
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            const std::size_t end = at + name.size();
            const bool whole = (at == 0 || !IsLatin(text[at - 1])) && (end == text.size() || !IsLatin(text[end]));
            if (whole) text.replace(at, name.size(), " ");
        }
    }
    std::vector<std::string> words;
    static const std::regex word("[A-Za-z]{2,}");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word); it != std::sregex_iterator(); ++it) {
        const bool extension = it->position() > 0 && text[static_cast<std::size_t>(it->position()) - 1] == '.';
        if (!IsSymbol(it->str()) && !extension) words.push_back(it->str());
    }
    return words;
}

class Language : public Desktop {
protected:
    Language() { Names.push_back(Folder.Path().string()); }

    // A writable copy of a database of the test data, under a name of no words.
    std::string Copy(const std::string& name, const std::string& as)
    {
        const fs::path copy = Folder / as;
        fs::copy_file(DataFile(name), copy, fs::copy_options::overwrite_existing);
        fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
        Remember(copy.string());
        return copy.string();
    }

    // Imports through the dialog as a user does, looking at the dialog before OK.
    void ImportLooking(const std::string& path, const std::string& table)
    {
        Remember(path);
        Form.ShowTablesDialog = [&](TTablesDlg& dialog) {
            Ui.OpenAnswers.push_back(path);
            dialog.OpenBtnClick();
            const auto found = dialog.ListTables->findItems(QString::fromStdString(table), Qt::MatchExactly);
            ASSERT_FALSE(found.isEmpty()) << table;
            dialog.ListTables->setCurrentItem(found.first());
            Shown.AddWindow(dialog);
            dialog.OKBtnClick();
        };
        Form.Button2->click();
        Shown.AddWindow(Form);
    }

    // The names of the tables and fields of a database: English where its maker wrote them so.
    void Remember(const std::string& path)
    {
        Names.push_back(path);
        Names.push_back(fs::path(path).filename().string());
        TMdbConnection connection;
        connection.SetConnectionString(TCustomerData::ConnectionStringFor(path));
        try {
            connection.Open();
        } catch (const std::exception&) {
            return;  // no database (yet): only its path is a name
        }
        std::vector<std::string> tables;
        connection.GetTableNames(tables, false);
        for (const std::string& table : tables) {
            Names.push_back(table);
            TMdbQuery query(connection);
            query.SQL().Add(TCustomerData::SelectStatement(table));
            try {
                query.Open();
            } catch (const std::exception&) {
                continue;
            }
            for (const std::string& field : query.FieldNames()) Names.push_back(field);
        }
    }

    void ShowGrid()
    {
        Form.Button3->click();
        Shown.AddWindow(Grid);
    }

    void Press(TDBNavigator::Button b) { Grid.NaviDatabase->ButtonAt(b)->click(); }

    // Everything seen on the walk, with every text of ours that is still in English.
    void ExpectNoEnglish()
    {
        Shown.AddScripted(Ui);
        ASSERT_FALSE(Shown.Texts().empty());
        for (const TShownText& shown : Shown.Texts()) {
            const std::vector<std::string> words = EnglishWords(shown.Text, Names);
            EXPECT_THAT(words, IsEmpty()) << shown.Where << ": " << shown.Text;
        }
    }

    // The errors shown: what the walk meant to provoke must really have come.
    std::size_t ErrorCount() const { return Ui.Errors.size(); }

    TShownTexts Shown;
    std::vector<std::string> Names;
};

}  // namespace

TEST(LanguageCheck, FindsEnglishOfOursButNotNamesFixedTextsOrSymbols)
{
    EXPECT_THAT(EnglishWords("只读：The view 'WarmDays' cannot be changed", {"WarmDays"}),
                ::testing::ElementsAre("The", "view", "cannot", "be", "changed"));
    EXPECT_THAT(EnglishWords("视图“WarmDays”不能修改", {"WarmDays"}), IsEmpty());
    EXPECT_THAT(EnglishWords("'abc' is not a valid floating point value", {}), IsEmpty());
    EXPECT_THAT(EnglishWords("Cannot access field 'YesNo' as type Float", {}), IsEmpty());
    EXPECT_THAT(EnglishWords("OK", {}), IsEmpty());
    EXPECT_THAT(EnglishWords("OK then", {}), ::testing::ElementsAre("OK", "then"));
    EXPECT_THAT(EnglishWords("Rain=1.5+2.5e-05*Temp", {"Rain", "Temp"}), IsEmpty());
    EXPECT_THAT(EnglishWords("技巧评分 MSSS 与 VIF", {}), IsEmpty());
    EXPECT_THAT(EnglishWords("/tmp/q-1/copy.mdb 被拒绝", {"/tmp/q-1/copy.mdb"}), IsEmpty());
    // A name inside a longer word leaves the rest of that word behind.
    EXPECT_THAT(EnglishWords("Acc 与 Access 与 Accept", {"Acc"}), ::testing::ElementsAre("Accept"));
    EXPECT_THAT(EnglishWords("只能保存为 .svg 或 .png", {}), IsEmpty());
}

TEST(DesktopLocale, SpeaksChineseAndWritesNumbersWithAPoint)
{
    EXPECT_EQ(Spoken(), TLanguage::Chinese);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char number[16];
    std::snprintf(number, sizeof number, "%.3f", 2.5);
    EXPECT_STREQ(number, "2.500");
    // A text the catalog has comes back translated.
    EXPECT_STRNE(Tr("Delete the record and these?"), "Delete the record and these?");
}

TEST_F(Language, TheMainWindowTheTableDialogAndTheComputation)
{
    Shown.AddWindow(Form);
    ImportLooking(Regression, "Weather");
    ChooseY("Rain");
    Form.Selectall1->trigger();
    Ui.SaveAnswers.push_back(std::nullopt);
    Form.Button1->click();
    ASSERT_FALSE(Ui.Boxes.empty());

    // The system's own errors: a constant column, a field with no numeric reading.
    ImportLooking(Regression, "Constant");
    ChooseY("y");
    Form.Selectall1->trigger();
    Form.Button1->click();
    ImportLooking(Regression, "Types");
    ChooseY("y");
    Tick("YesNo");
    Form.Button1->click();
    EXPECT_EQ(ErrorCount(), 2u);
    ExpectNoEnglish();
}

TEST_F(Language, RefusedReportTargets)
{
    const std::string open = Copy("regression.mdb", "一.mdb");
    const std::string other = Copy("regression.mdb", "二.txt");
    ImportLooking(open, "Weather");
    ChooseY("Rain");
    Form.Selectall1->trigger();
    for (const std::string& path : {open, other, Folder.Path().string()}) {
        Ui.SaveAnswers.push_back(path);
        Ui.YesNoAnswers.push_back(IDYES);
        Form.Button1->click();
    }
    EXPECT_EQ(ErrorCount(), 3u);
    ExpectNoEnglish();
}

TEST_F(Language, TheGridOfAViewAReadOnlyFileARefusedValueAndADamagedFile)
{
    const std::string copy = Copy("regression.mdb", "三.mdb");
    ImportLooking(copy, "WarmDays");
    ShowGrid();
    ASSERT_TRUE(Grid.ReadOnlyLine->isVisibleTo(&Grid));

    // Values that do not fit their fields.
    ImportLooking(copy, "Types");
    Shown.AddWindow(Grid);
    Grid.Model->setData(Grid.Model->index(0, 1), QStringLiteral("40000"), Qt::EditRole);
    Press(TDBNavigator::nbPost);
    Press(TDBNavigator::nbCancel);
    ImportLooking(copy, "Plain");
    Grid.Model->setData(Grid.Model->index(0, 0), QStringLiteral("1..5"), Qt::EditRole);
    Press(TDBNavigator::nbPost);
    Press(TDBNavigator::nbCancel);
    EXPECT_EQ(ErrorCount(), 2u);

    // The file damaged under the open table: cut off after its first pages, which hold the
    // catalog but not the table's records. The reading process finds the damage, and its words
    // reach the grid.
    const std::string bytes = ReadBytes(copy);
    WriteBytes(copy, bytes.substr(0, 20 * 4096));
    Press(TDBNavigator::nbRefresh);
    EXPECT_EQ(ErrorCount(), 3u);
    // Changing it is refused too, in the writer's words.
    Grid.Model->setData(Grid.Model->index(0, 0), QStringLiteral("7"), Qt::EditRole);
    Press(TDBNavigator::nbPost);
    Press(TDBNavigator::nbCancel);
    EXPECT_EQ(ErrorCount(), 4u);

    // A file the user may not write opens read-only and says so.
    const std::string readOnly = Copy("regression.mdb", "四.mdb");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ImportLooking(readOnly, "Plain");
    Shown.AddWindow(Grid);
    ASSERT_TRUE(Grid.ReadOnlyLine->isVisibleTo(&Grid));
    ExpectNoEnglish();
    Grid.close();
}

TEST_F(Language, TheDeleteQuestionsAndARelatedRecordKept)
{
    const std::string related = Copy("related.mdb", "五.mdb");
    ImportLooking(related, "Stations");
    ShowGrid();
    Grid.GridDatabase->selectRow(2);
    Ui.OkCancelAnswers = {IDOK};  // the second question answered Cancel
    Press(TDBNavigator::nbDelete);
    ASSERT_EQ(Ui.Boxes.size(), 2u);

    ImportLooking(related, "Elements");
    Ui.OkCancelAnswers = {IDOK};
    Press(TDBNavigator::nbDelete);  // its readings keep it
    EXPECT_EQ(ErrorCount(), 1u);
    ExpectNoEnglish();
    Grid.close();
}

TEST_F(Language, TheSkillWindowAndItsErrors)
{
    ImportLooking(Regression, "ElNino");
    ChooseY("DEC");
    Form.Selectall1Click();
    Form.Button7->click();
    ASSERT_NE(Form.SkillCheck(), nullptr);
    TSkillForm& window = *Form.SkillCheck();
    Shown.AddWindow(window);

    // A picture over the database.
    Ui.SaveAnswers.push_back(Regression);
    Ui.YesNoAnswers.push_back(IDYES);
    window.SavePictureButton->click();
    EXPECT_EQ(ErrorCount(), 1u);
    Shown.AddWindow(window);
    // Another table, then a check that cannot be computed: the window says why it is empty.
    ImportLooking(Regression, "Constant");
    Shown.AddWindow(window);
    ChooseY("y");
    Form.Selectall1Click();
    Form.Button7->click();
    EXPECT_EQ(ErrorCount(), 2u);
    Shown.AddWindow(window);
    ExpectNoEnglish();
    window.close();
}
