// The batch command speaks the language its locale asks for, as the system's command-line tools
// do, on a system where no Chinese locale was ever generated: English under C or an English
// locale, Chinese under a Chinese one, the reading process's words about a damaged file included.

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "tests/ProgramSupport.h"
#include "tests/StatisticsTestSupport.h"
#include "tests/TestFiles.h"
#include "data/reading/MdbAccess.h"
#include "support/Messages.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct TRun {
    int Status;
    std::string Err;
};

class BatchLanguage : public ::testing::Test {
protected:
    // The batch command under a locale of nothing but the given variables.
    TRun Run(const std::vector<std::string>& locale, std::vector<std::string> args)
    {
        args.insert(args.begin(), QUORLIN_BATCH_EXE);
        const std::string err = (Folder / "err.txt").string();
        const pid_t pid = StartProgramIn(&locale, args, {}, err);
        EXPECT_GT(pid, 0);
        const int status = ExitStatus(pid);
        return {status, ReadBytes(err)};
    }

    // The text in Chinese, as the catalog the build made has it.
    template <typename... TValues>
    static std::string Chinese(const char* english, const TValues&... values)
    {
        Speak(TLanguage::Chinese, CatalogFolder());
        std::string text = Format(Tr(english), values...);
        Speak(TLanguage::English, {});
        EXPECT_NE(text, Format(english, values...)) << "no translation of: " << english;
        return text;
    }

    TempFolder Folder;
    const std::string Missing = (Folder / "none.mdb").string();
};

}  // namespace

TEST_F(BatchLanguage, EnglishUnderTheCLocaleAndEnglishOnes)
{
    const std::string english = "quorlin-batch: Could not find file '" + Missing + "'.\n";
    for (const std::vector<std::string>& locale : std::vector<std::vector<std::string>>{
             {}, {"LANG=C"}, {"LANG=en_US.UTF-8"}, {"LC_ALL=C", "LANGUAGE=zh_CN"}, {"LANG=zh_CN.UTF-8", "LC_MESSAGES=en_GB"}}) {
        const TRun run = Run(locale, {"tables", Missing});
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Err, english) << ::testing::PrintToString(locale);
    }
}

TEST_F(BatchLanguage, ChineseUnderAChineseLocaleThatWasNeverGenerated)
{
    const std::string chinese = "quorlin-batch: " + Chinese("Could not find file '%1$s'.", Missing) + "\n";
    for (const std::vector<std::string>& locale : std::vector<std::vector<std::string>>{
             {"LANG=zh_CN.UTF-8"}, {"LC_ALL=zh_CN.GB18030"}, {"LANG=C.UTF-8", "LANGUAGE=zh_CN:en"}}) {
        const TRun run = Run(locale, {"tables", Missing});
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Err, chinese) << ::testing::PrintToString(locale);
    }
    // A usage error of our own, and the statistics' own refusal.
    const std::string csv = DataFile("Sample.csv");
    EXPECT_EQ(Run({"LANG=zh_CN.UTF-8"}, {"compute", csv, "--y", "Nope"}).Err,
              "quorlin-batch: " + Chinese("Unknown field '%1$s'", "Nope") + "\n");
    EXPECT_THAT(Run({"LANG=zh_CN.UTF-8"}, {"skill", csv, "--y", "y", "--leave", "2"}).Err,
                HasSubstr(Chinese("The number of records left out in each fold must be odd and at least 1, not %1$s", 2)));
}

// The reading process is confined before it reads the file: the catalog it speaks from must be
// loaded before that, or the damage would be told in English.
TEST_F(BatchLanguage, TheReadingProcessTellsTheDamageInTheLanguageAsked)
{
    const std::string damaged = (Folder / "damaged.mdb").string();
    WriteBytes(damaged, ReadBytes(DataFile("regression.mdb")).substr(0, 20 * 4096));
    const TRun english = Run({"LANG=C"}, {"export", damaged, "--table", "Weather"});
    EXPECT_THAT(english.Err, StartsWith("quorlin-batch: The table 'Weather' of '" + damaged + "' is damaged: page "));

    const TRun chinese = Run({"LANG=zh_CN.UTF-8"}, {"export", damaged, "--table", "Weather"});
    EXPECT_EQ(chinese.Status, 2);
    const std::string prefix = "quorlin-batch: " + Chinese(DamagedTableText, "Weather", damaged, "");
    ASSERT_THAT(chinese.Err, StartsWith(prefix));
    // What is wrong comes from deep in the reader, and is Chinese too.
    const std::string what = chinese.Err.substr(prefix.size());
    EXPECT_FALSE(what.empty());
    EXPECT_EQ(what.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"), std::string::npos) << what;
}
