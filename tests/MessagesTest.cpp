// Our texts in the language spoken: the values put into them, the language a locale asks for,
// and the catalog as the build lays it out.

#include <gmock/gmock.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/Messages.h"

using namespace quorlin;

namespace {

// Speaks a language for one test, then English again as the program speaks where none is set up.
class TSpeaking {
public:
    explicit TSpeaking(TLanguage language) { Speak(language, CatalogFolder()); }
    ~TSpeaking() { Speak(TLanguage::English, {}); }
    TSpeaking(const TSpeaking&) = delete;
    TSpeaking& operator=(const TSpeaking&) = delete;
};

TLanguage AskedBy(const std::map<std::string, std::string>& environment)
{
    return LanguageAsked([&](const char* name) -> const char* {
        const auto it = environment.find(name);
        return it == environment.end() ? nullptr : it->second.c_str();
    });
}

}  // namespace

TEST(MessageFormat, PutsEachValueWhereItsNumberStandsInAnyOrder)
{
    EXPECT_EQ(Format("The table '%1$s' has no record %2$s.", "Weather", 12), "The table 'Weather' has no record 12.");
    EXPECT_EQ(Format("表“%2$s”中的 %1$s 条记录", 3, "Months"), "表“Months”中的 3 条记录");
    EXPECT_EQ(Format("%1$s=%1$s", std::string("x")), "x=x");
    EXPECT_EQ(Format("%1$s", std::string_view("视图")), "视图");
    EXPECT_EQ(Format("%1$s and %2$s", -7L, 4000000000ULL), "-7 and 4000000000");
}

TEST(MessageFormat, LeavesWhatIsNoPlaceholderAsWritten)
{
    EXPECT_EQ(Format("100%% of %1$s", "n"), "100% of n");
    EXPECT_EQ(Format("50% done"), "50% done");
    // A placeholder with no value, a malformed one, one at the very end: shown, never filled
    // from nowhere.
    EXPECT_EQ(Format("%2$s and %1$s", "a"), "%2$s and a");
    EXPECT_EQ(Format("%0$s %1$d %1$", "a"), "%0$s %1$d %1$");
    EXPECT_EQ(Format("%99999999999999999999$s", "a"), "%99999999999999999999$s");
    EXPECT_EQ(Format("%"), "%");
    EXPECT_EQ(Format("%1$s", static_cast<const char*>(nullptr)), "");
}

TEST(LanguageAsked, ReadsTheLocaleOfMessagesAsGnuProgramsDo)
{
    EXPECT_EQ(AskedBy({}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LANG", "zh_CN.UTF-8"}}), TLanguage::Chinese);
    EXPECT_EQ(AskedBy({{"LANG", "zh_TW.Big5"}}), TLanguage::Chinese);
    EXPECT_EQ(AskedBy({{"LANG", "en_US.UTF-8"}}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LANG", "C"}}), TLanguage::English);
    // LC_ALL before LC_MESSAGES before LANG.
    EXPECT_EQ(AskedBy({{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_GB.UTF-8"}}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.GB18030"}}), TLanguage::Chinese);
    EXPECT_EQ(AskedBy({{"LC_MESSAGES", "zh_CN.UTF-8"}, {"LC_ALL", "C"}}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LC_ALL", "zh_SG.UTF-8"}, {"LANG", "C"}}), TLanguage::Chinese);
    EXPECT_EQ(AskedBy({{"LANG", ""}, {"LC_ALL", ""}}), TLanguage::English);
}

TEST(LanguageAsked, ListedPreferencesComeFirstUnlessTheLocaleIsC)
{
    EXPECT_EQ(AskedBy({{"LANG", "C.UTF-8"}, {"LANGUAGE", "zh_CN"}}), TLanguage::Chinese);
    EXPECT_EQ(AskedBy({{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "en_US:en"}}), TLanguage::English);
    // Languages we have no catalog for are passed over, as gettext passes them over.
    EXPECT_EQ(AskedBy({{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "de:fr:zh_CN"}}), TLanguage::Chinese);
    EXPECT_EQ(AskedBy({{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "de:fr"}}), TLanguage::English);
    // A list of nothing lists no language of ours, and gettext then speaks the program's own.
    EXPECT_EQ(AskedBy({{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "::"}}), TLanguage::English);
    // C ends the list; and under the C locale the list is not read at all.
    EXPECT_EQ(AskedBy({{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "C:zh_CN"}}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LANG", "C"}, {"LANGUAGE", "zh_CN"}}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LANGUAGE", "zh_CN"}}), TLanguage::English);
    EXPECT_EQ(AskedBy({{"LC_ALL", "POSIX"}, {"LANGUAGE", "zh_CN"}}), TLanguage::English);
}

TEST(LanguageTag, GoesThereAndBack)
{
    for (const TLanguage language : {TLanguage::English, TLanguage::Chinese})
        EXPECT_EQ(LanguageOfTag(LanguageTag(language)), language);
    EXPECT_EQ(LanguageOfTag("zh"), TLanguage::Chinese);
    EXPECT_EQ(LanguageOfTag("fr_FR"), TLanguage::English);
}

TEST(Catalog, LiesWhereTheProgramsOfTheBuildLookAndSpeaksChinese)
{
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(CatalogFolder()) / "zh_CN/LC_MESSAGES/quorlin.mo"))
        << CatalogFolder();
    EXPECT_STREQ(Tr("Delete the record and these?"), "Delete the record and these?");
    {
        const TSpeaking chinese(TLanguage::Chinese);
        EXPECT_EQ(Spoken(), TLanguage::Chinese);
        EXPECT_EQ(SpokenCatalogFolder(), CatalogFolder());
        const std::string asked = Tr("Delete the record and these?");
        EXPECT_NE(asked, "Delete the record and these?");
        EXPECT_EQ(asked.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"), std::string::npos) << asked;
        // Chinese has one form for any count; the value still goes where the translation puts it.
        const std::string one = Format(TrPlural("%1$s record of the table '%2$s'", "%1$s records of the table '%2$s'", 1), 1, "T");
        const std::string many = Format(TrPlural("%1$s record of the table '%2$s'", "%1$s records of the table '%2$s'", 5), 5, "T");
        EXPECT_NE(one.find("1"), std::string::npos);
        EXPECT_NE(many.find("5"), std::string::npos);
        EXPECT_EQ(one.find("record"), std::string::npos) << one;
        // A text the catalog does not have stays as it is.
        EXPECT_STREQ(Tr("No such text in any catalog"), "No such text in any catalog");
        EXPECT_STREQ(Tr(""), "");
    }
    EXPECT_EQ(Spoken(), TLanguage::English);
    EXPECT_STREQ(TrPlural("%1$s record", "%1$s records", 1), "%1$s record");
    EXPECT_STREQ(TrPlural("%1$s record", "%1$s records", 2), "%1$s records");
}
