// The messages between the program and the editing process, as a hostile or broken editing
// process could send them: what crosses is what was sent, and an answer that does not fit the
// file is refused rather than written.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/editing/EditWire.h"

namespace quorlin {
namespace {

std::string Sent(const std::function<void(TWireWriter&)>& write)
{
    std::string bytes;
    TWireWriter w([&](const char* p, std::size_t n) { bytes.append(p, n); });
    write(w);
    w.Flush();
    return bytes;
}

TWireReader ReaderOf(const std::string& bytes)
{
    auto at = std::make_shared<std::size_t>(0);
    return TWireReader([&bytes, at](char* p, std::size_t n) {
        const std::size_t k = std::min(n, bytes.size() - *at);
        std::copy_n(bytes.data() + *at, k, p);
        *at += k;
        return k;
    });
}

// The pages of after that differ from before, every page a candidate.
TChangedPages EveryChangedPage(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after,
                               std::uint32_t pageSize)
{
    std::set<std::uint32_t> every;
    for (std::uint32_t page = 0; std::size_t{page} * pageSize < after.size(); ++page) every.insert(page);
    return ChangedPages(before, after, pageSize, every);
}

// The new file the pieces make.
std::vector<std::uint8_t> Joined(const std::vector<std::string_view>& pieces)
{
    std::vector<std::uint8_t> bytes;
    for (std::string_view piece : pieces) bytes.insert(bytes.end(), piece.begin(), piece.end());
    return bytes;
}

std::vector<std::uint8_t> Pages(std::initializer_list<std::uint8_t> fills, std::size_t pageSize)
{
    std::vector<std::uint8_t> bytes;
    for (std::uint8_t f : fills) bytes.insert(bytes.end(), pageSize, f);
    return bytes;
}

TEST(EditWire, ARequestAndAChangeCrossWhole)
{
    TEditRequest request;
    request.Ask = TEditAsk::Change;
    request.Path = "/data/站点.mdb";
    request.Table = "Obs";
    request.Change = {TRecordChange::TKind::Update, 7, {{2, std::string("25.5")}, {4, std::nullopt}}};
    request.ReadColumns = {"YEAR", "MAY", "备注"};
    request.ReadRecords = 61;
    const std::string bytes = Sent([&](TWireWriter& w) { WriteEditRequest(w, request); });
    TWireReader r = ReaderOf(bytes);
    const TEditRequest got = ReadEditRequest(r);
    EXPECT_EQ(got.Ask, TEditAsk::Change);
    EXPECT_EQ(got.Path, request.Path);
    EXPECT_EQ(got.Change.Record, 7);
    ASSERT_EQ(got.Change.Values.size(), 2u);
    EXPECT_EQ(got.Change.Values[0].Text, std::optional<std::string>("25.5"));
    EXPECT_FALSE(got.Change.Values[1].Text);
    EXPECT_EQ(got.ReadColumns, request.ReadColumns);
    EXPECT_EQ(got.ReadRecords, 61);

    TBuiltChange built;
    const auto before = Pages({1, 2, 3}, 8), after = Pages({1, 9, 3, 4}, 8);
    built.Changed = EveryChangedPage(before, after, 8);
    built.BuiltOn = 0x0123456789abcdefULL;
    TRebuiltTable& table = built.Tables.emplace_back();
    table.Name = "Obs";
    table.Changes.Updates[7] = {std::nullopt, TCellValue{TCellKind::Number, 25.5, {}}, TCellValue{TCellKind::Text, 0, "x"}};
    table.Changes.Deletes = {3};
    table.DefColumn = {0, 2, 1};
    const std::string answer = Sent([&](TWireWriter& w) { WriteBuiltChange(w, built); });
    TWireReader a = ReaderOf(answer);
    const TBuiltChange back = ReadBuiltChange(a);
    EXPECT_EQ(back.Changed.Pages.size(), 2u);  // the changed page and the added one, no more
    EXPECT_EQ(Joined(WithPages(before, back.Changed)), after);
    EXPECT_EQ(back.BuiltOn, built.BuiltOn);
    ASSERT_EQ(back.Tables.size(), 1u);
    EXPECT_EQ(back.Tables[0].DefColumn, table.DefColumn);
    EXPECT_EQ(back.Tables[0].Changes.Deletes, table.Changes.Deletes);
    EXPECT_EQ(back.Tables[0].Changes.Updates.at(7)[1]->Number, 25.5);
    EXPECT_EQ(back.Tables[0].Changes.Updates.at(7)[2]->Text, "x");
    EXPECT_FALSE(back.Tables[0].Before);
}

TEST(EditWire, PagesThatDoNotFitTheFileAreRefused)
{
    const auto before = Pages({1, 2}, 8);
    EXPECT_EQ(Joined(WithPages(before, EveryChangedPage(before, Pages({1}, 8), 8))), Pages({1}, 8));  // a shorter file
    // Pages added past the end and not sent are zeros; only the pages named may differ.
    EXPECT_EQ(Joined(WithPages(before, {8, 32, {{3, std::vector<std::uint8_t>(8, 7)}}})), Pages({1, 2, 0, 7}, 8));
    EXPECT_EQ(ChangedPages(before, Pages({9, 9}, 8), 8, {1}).Pages.size(), 1u);
    const auto refused = [&](TChangedPages changed) {
        try {
            WithPages(before, changed);
        } catch (const EWireError&) {
            return true;
        }
        return false;
    };
    EXPECT_TRUE(refused({8, 16, {{2, std::vector<std::uint8_t>(8, 5)}}}));   // beyond the end
    EXPECT_TRUE(refused({8, 16, {{0, std::vector<std::uint8_t>(7, 5)}}}));   // not a whole page
    EXPECT_TRUE(refused({8, 16, {{1, std::vector<std::uint8_t>(8, 5)}, {0, std::vector<std::uint8_t>(8, 5)}}}));  // out of order
    EXPECT_TRUE(refused({8, 12, {}}));                                       // not whole pages
    EXPECT_TRUE(refused({0, 0, {}}));                                        // no page size
    EXPECT_TRUE(refused({8, std::uint64_t{1} << 40, {}}));                   // more than a file holds
}

}  // namespace
}  // namespace quorlin
