// Reading tables the way Access leaves them: deleted records, records moved to another place,
// record counts it did not keep, and damage. Each case changes bytes of a copy of regression.mdb
// the way Access (or a failing disk) would, then reads the table as the program does, in a
// reading process, and through the batch command.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/StatisticsTestSupport.h"
#include "batch/BatchCommand.h"
#include "data/provider/CustomerData.h"
#include "data/reading/Isolation.h"
#include "data/editing/MdbWriter.h"
#include "data/format/read/Database.h"
#include "data/format/read/UsageMap.h"
#include "tests/SharedFiles.h"

using namespace quorlin;
using namespace quorlin::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

// Where Plain keeps its records, found through the reader on the untouched copy.
struct TLayout {
    jet::TFormat Format;
    std::uint32_t TdefPage = 0;
    std::uint32_t OtherTdefPage = 0;  // Keyed's
    std::uint32_t DataPage = 0;       // the first data page of Plain
    std::vector<jet::TRowSlot> Slots;
};

TLayout PlainLayout(const std::string& path)
{
    const jet::TDatabase db(path);
    TLayout layout{db.Format(), 0, 0, 0, {}};
    const jet::TTableDef def = db.TableDef(*db.FindTable("Plain"));
    layout.TdefPage = def.Page;
    layout.OtherTdefPage = db.FindTable("Keyed")->Page();
    for (std::uint32_t page : jet::ReadUsageMap(db.Pages(), def.OwnedPages))
        if (db.Pages().Type(page) == jet::TPageType::Data) {
            layout.DataPage = page;
            break;
        }
    layout.Slots = jet::RowSlots(db.Pages(), layout.DataPage);
    return layout;
}

// The copy's bytes, changed in place and written back.
class TEditedCopy {
public:
    explicit TEditedCopy(const TempFolder& folder) : FPath(WritableCopy(folder)), FLayout(PlainLayout(FPath))
    {
        FBytes = ReadBytes(FPath);
    }
    const TLayout& Layout() const noexcept { return FLayout; }
    const std::string& Path() const noexcept { return FPath; }
    std::uint8_t* Page(std::uint32_t n) { return reinterpret_cast<std::uint8_t*>(FBytes.data()) + n * FLayout.Format.PageSize; }
    std::uint8_t* Slot(std::uint32_t row) { return Page(FLayout.DataPage) + FLayout.Format.DataRowOffsets + 2 * row; }
    std::uint8_t* Row(std::uint32_t row) { return Page(FLayout.DataPage) + FLayout.Slots.at(row).Start; }
    void SetFlags(std::uint32_t row, std::uint16_t flags) { jet::Put16(Slot(row), jet::Get16(Slot(row)) | flags); }
    void SetRecordCount(std::uint32_t n) { jet::Put32(Page(FLayout.TdefPage) + FLayout.Format.TdefRowCount, n); }
    // Row `from` becomes a header row pointing to row `to` of the same page.
    void Move(std::uint32_t from, std::uint32_t to)
    {
        SetFlags(from, jet::TRowFlag::Overflow);
        jet::Put32(Row(from), jet::TRowId{FLayout.DataPage, to}.Packed());
    }
    void Save() { WriteBytes(FPath, FBytes); }
    std::string& Bytes() { return FBytes; }

private:
    std::string FPath;
    TLayout FLayout;
    std::string FBytes;
};

std::vector<double> Column(const TTableData& t, const std::string& name)
{
    for (const auto& c : t.Columns)
        if (c.Info.Name == name) return c.Numbers;
    return {};
}

std::vector<double> PlainY(const std::string& path) { return Column(ReadRecordsIsolated(path, "Plain", false), "y"); }

struct TBatchResult {
    int Status;
    std::string Err;
};

TBatchResult Compute(const std::string& path)
{
    const std::vector<std::string> args = {"quorlin-batch", "compute", path, "--table", "Plain", "--y", "y", "--method", "full"};
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, err.str()};
}

}  // namespace

// A deleted record is left out. The count in the table's definition does not decide what is
// read (Access does not always keep it): a deleted flag the count does not know of leaves the
// record out all the same, and the reading says that the count disagrees, since damage that
// flags a record deleted looks just the same.
TEST(JetReader, DeletedRecordsAreLeftOutAndACountThatDisagreesIsTold)
{
    TempFolder folder;
    TEditedCopy copy(folder);
    std::vector<double> expected = PlainY(copy.Path());
    ASSERT_EQ(expected.size(), 15u);
    expected.erase(expected.begin() + 3);

    copy.SetFlags(3, jet::TRowFlag::Deleted);
    copy.SetRecordCount(14);
    copy.Save();
    const TTableData counted = ReadRecordsIsolated(copy.Path(), "Plain", false);
    EXPECT_EQ(Column(counted, "y"), expected);
    EXPECT_THAT(counted.Warnings, IsEmpty());

    copy.SetRecordCount(15);
    copy.Save();
    const TTableData uncounted = ReadRecordsIsolated(copy.Path(), "Plain", false);
    EXPECT_EQ(Column(uncounted, "y"), expected);
    EXPECT_THAT(uncounted.Warnings, ElementsAre(HasSubstr("The table 'Plain' holds 14 records where its definition counts 15")));
    const TBatchResult r = Compute(copy.Path());
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.Err, HasSubstr("quorlin-batch: warning: The table 'Plain' holds 14 records where its definition counts 15"));
}

// Access does not always keep the record count of a table's definition: a file it saved may
// count 3 records where 4 stand, and its own tables it does not count at all. Whatever the count
// says, every record is read; the reading process, the provider the grid shows and the batch
// command say that the count disagrees, and the table can still be changed (which sets the count
// right: WriteRoundTrip.AChangeStoresTheTrueRecordCount). A table whose count agrees says nothing.
TEST(JetReader, ARecordCountAccessDidNotKeepReadsWholeWithAWarning)
{
    for (const std::uint32_t counted : {14u, 16u, 0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(counted);
        TempFolder folder;
        TEditedCopy copy(folder);
        const std::vector<double> original = PlainY(copy.Path());
        copy.SetRecordCount(counted);
        copy.Save();
        const std::string warning = "The table 'Plain' holds 15 records where its definition counts " + std::to_string(counted);

        const TTableData read = ReadRecordsIsolated(copy.Path(), "Plain", false);
        EXPECT_EQ(Column(read, "y"), original);
        EXPECT_THAT(read.Warnings, ElementsAre(HasSubstr(warning)));

        TCustomerData data;
        ASSERT_EQ(data.OpenTable(copy.Path(), "Plain"), 2) << data.LastError();
        EXPECT_EQ(data.DataQuery.RecordCount(), 15);
        EXPECT_THAT(data.DataQuery.Warnings(), ElementsAre(HasSubstr(warning)));
        EXPECT_TRUE(data.DataQuery.CanModify()) << data.DataQuery.ReadOnlyReason();
        ASSERT_EQ(data.OpenTable(copy.Path(), "Keyed"), 2) << data.LastError();
        EXPECT_THAT(data.DataQuery.Warnings(), IsEmpty());

        const TBatchResult r = Compute(copy.Path());
        EXPECT_EQ(r.Status, 0) << r.Err;
        EXPECT_THAT(r.Err, HasSubstr("quorlin-batch: warning: " + warning));
    }
}

TEST(JetReader, AMovedRecordIsReadOnceAtItsNewPlace)
{
    TempFolder folder;
    TEditedCopy copy(folder);
    const std::vector<double> original = PlainY(copy.Path());
    // Record 2 moved to row 9's place: read where record 2 stood, and not again at row 9.
    std::vector<double> expected = original;
    expected[2] = original[9];
    expected.erase(expected.begin() + 9);

    copy.Move(2, 9);
    copy.SetFlags(9, jet::TRowFlag::Deleted);  // as Access flags the moved copy
    copy.SetRecordCount(14);
    copy.Save();
    EXPECT_EQ(PlainY(copy.Path()), expected);

    // A writer that leaves the moved copy unflagged still has each record read once.
    TempFolder other;
    TEditedCopy second(other);
    second.Move(2, 9);
    second.SetRecordCount(14);
    second.Save();
    EXPECT_EQ(PlainY(second.Path()), expected);
}

TEST(JetReader, DamageEndsTheReadNamingTheTable)
{
    struct TCase {
        const char* Name;
        std::function<void(TEditedCopy&)> Damage;
    };
    const std::vector<TCase> cases = {
        {"row offsets out of order",
         [](TEditedCopy& c) {
             const std::uint16_t a = jet::Get16(c.Slot(1)), b = jet::Get16(c.Slot(2));
             jet::Put16(c.Slot(1), b);
             jet::Put16(c.Slot(2), a);
         }},
        {"a row offset outside the page", [](TEditedCopy& c) { jet::Put16(c.Slot(4), 3); }},
        {"a data page owned by another table",
         [](TEditedCopy& c) {
             jet::Put32(c.Page(c.Layout().DataPage) + c.Layout().Format.DataOwner, c.Layout().OtherTdefPage);
         }},
        {"a definition chain that loops",
         [](TEditedCopy& c) { jet::Put32(c.Page(c.Layout().TdefPage) + c.Layout().Format.TdefNextPage, c.Layout().TdefPage); }},
        {"moved records pointing at each other",
         [](TEditedCopy& c) {
             c.Move(5, 6);
             c.Move(6, 5);
         }},
        {"a row-offset table longer than its page",
         [](TEditedCopy& c) { jet::Put16(c.Page(c.Layout().DataPage) + c.Layout().Format.DataRowCount, 0x7FFF); }},
    };
    for (const TCase& k : cases) {
        SCOPED_TRACE(k.Name);
        TempFolder folder;
        TEditedCopy copy(folder);
        k.Damage(copy);
        copy.Save();
        const TBatchResult r = Compute(copy.Path());
        EXPECT_EQ(r.Status, 2);
        EXPECT_NE(r.Err.find("The table 'Plain' of '" + copy.Path() + "' is damaged: "), std::string::npos) << r.Err;
        // The other tables of the file still read.
        EXPECT_EQ(Column(ReadRecordsIsolated(copy.Path(), "Keyed", false), "y").size(), 15u);
    }
}

// The same in a file of Access 2007 and later: a table whose definition counts 3 records where
// 4 stand, as Access 2010 left one, reads all 4 with the warning, and a change stores 4.
TEST(JetReader, AnAceTableCountingThreeOfItsFourRecordsReadsAllFour)
{
    TempFolder folder;
    const std::string path = (folder / "notes.accdb").string();
    std::string bytes = ReadBytes(DataFile("notes.accdb"));
    const auto counted = [&] {
        const jet::TDatabase db(path);
        return db.TableDef(*db.FindTable("Notes")).RowCount;
    };
    WriteBytes(path, bytes);
    ASSERT_EQ(counted(), 4u);
    {
        const jet::TDatabase db(path);
        jet::Put32(reinterpret_cast<std::uint8_t*>(bytes.data()) + std::size_t{db.FindTable("Notes")->Page()} * db.Format().PageSize +
                       db.Format().TdefRowCount,
                   3);
    }
    WriteBytes(path, bytes);

    const TTableData read = ReadRecordsIsolated(path, "Notes", false);
    EXPECT_EQ(read.RecordCount, 4);
    EXPECT_EQ(Column(read, "Year"), Column(ReadRecordsIsolated(DataFile("notes.accdb"), "Notes", false), "Year"));
    EXPECT_THAT(read.Warnings, ElementsAre(HasSubstr("The table 'Notes' holds 4 records where its definition counts 3")));

    const TTableData changed = ApplyRecordChange(path, "Notes", {TRecordChange::TKind::Update, 3, {{2, "counted again"}}});
    EXPECT_EQ(changed.RecordCount, 4);
    EXPECT_THAT(changed.Warnings, IsEmpty());
    EXPECT_EQ(counted(), 4u);
}

// Whatever single byte of a data page's row-offset table or of the record count changes, the
// table never reads shorter than it is without a word: it reads whole, or with the warning that
// its definition counts other records than it holds, or not at all. A changed count alone
// always reads whole, with the warning.
TEST(JetReader, NoChangedByteMakesATableSilentlyShorter)
{
    TempFolder folder;
    TEditedCopy copy(folder);
    const std::vector<double> original = PlainY(copy.Path());
    const std::string pristine = copy.Bytes();
    const jet::TFormat& f = copy.Layout().Format;
    const std::size_t dataPage = std::size_t{copy.Layout().DataPage} * f.PageSize;
    const std::size_t countField = std::size_t{copy.Layout().TdefPage} * f.PageSize + f.TdefRowCount;
    std::vector<std::size_t> offsets;
    for (std::size_t i = f.DataRowCount; i < f.DataRowOffsets + 2 * copy.Layout().Slots.size(); ++i) offsets.push_back(dataPage + i);
    for (std::size_t i = 0; i < 4; ++i) offsets.push_back(countField + i);
    int refused = 0, shorter = 0;
    for (std::size_t at : offsets)
        for (std::uint8_t flip : {0x01, 0x02, 0x10, 0x40, 0x80, 0xFF}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(flip));
            const bool isCount = at >= countField && at < countField + sizeof(std::uint32_t);
            copy.Bytes() = pristine;
            copy.Bytes()[at] = static_cast<char>(copy.Bytes()[at] ^ flip);
            copy.Save();
            try {
                const TTableData read = ReadRecordsIsolated(copy.Path(), "Plain", false);
                const std::vector<double> y = Column(read, "y");
                if (y.size() != original.size()) {
                    ++shorter;
                    EXPECT_THAT(read.Warnings, ElementsAre(HasSubstr("holds " + std::to_string(y.size()) + " records")));
                }
                if (isCount) {
                    EXPECT_EQ(y, original);
                    EXPECT_THAT(read.Warnings, ElementsAre(HasSubstr("where its definition counts")));
                }
            } catch (const EProviderError&) {
                EXPECT_FALSE(isCount) << "a count alone is no damage";
                ++refused;
            }
        }
    EXPECT_GT(refused, 0);
    EXPECT_GT(shorter, 0);  // a deleted flag set by a changed byte
}

// A copy of the test database in which Access-style edits grew records of Stations, moved them
// to other pages and deleted six: computing uses the 24 records an independent reader finds.
TEST(JetReader, ALivedInFileComputesFromItsLiveRecords)
{
    const std::string path = ExternalFixtures() + "/../lived-in/growdel.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "the lived-in files are not among the shared fixtures";
    const std::vector<std::string> args = {"quorlin-batch", "compute", path, "--table", "Stations", "--y", "Rain",
                                           "--x", "Temp", "--x", "Wind", "--json"};
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    ASSERT_EQ(RunBatch(static_cast<int>(argv.size()), argv.data(), out, err), 0) << err.str();
    EXPECT_NE(out.str().find("\"n\":24,"), std::string::npos) << out.str().substr(0, 200);
}
