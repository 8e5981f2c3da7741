#include "data/format/read/TableScan.h"

#include <algorithm>
#include <set>
#include <string>

#include "data/format/Damage.h"
#include "data/format/read/UsageMap.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

// A record moved again and again is still reached in a few steps; more is a loop.
constexpr int MaxMoves = 16;


// The data pages of the table, checked to be its own.
std::vector<std::uint32_t> DataPages(const TPages& pages, const TTableDef& def)
{
    std::vector<std::uint32_t> result;
    for (std::uint32_t page : ReadUsageMap(pages, def.OwnedPages)) {
        if (pages.Type(page) != TPageType::Data || IsLongValuePage(pages, page)) continue;
        if (DataPageOwner(pages, page) != def.Page) Damaged(quorlin::Format(Tr("page %1$s belongs to another table"), page));
        result.push_back(page);
    }
    return result;
}

TView SlotBytes(const TPages& pages, std::uint32_t page, const TRowSlot& slot)
{
    return TView(pages.Page(page) + slot.Start, slot.End - slot.Start);
}

// Follows a header row's pointer to the row that holds the record now.
TRecordPlace FollowMoves(const TPages& pages, const TTableDef& def, TRowId header, TView pointerRow)
{
    TView row = pointerRow;
    for (int moves = 0; moves < MaxMoves; ++moves) {
        if (row.size() < RowIdSize) Damaged(quorlin::Format(Tr("a moved record's pointer on page %1$s is cut short"), header.Page));
        const TRowId target = TRowId::Unpack(Get32(row.data()));
        if (pages.Type(target.Page) != TPageType::Data || DataPageOwner(pages, target.Page) != def.Page)
            Damaged(quorlin::Format(Tr("a record on page %1$s points to page %2$s, which is not the table's"), header.Page,
                                    target.Page));
        const auto slots = RowSlots(pages, target.Page);
        if (target.Row >= slots.size())
            Damaged(quorlin::Format(Tr("a record on page %1$s points to a row that does not exist"), header.Page));
        const TRowSlot& slot = slots[target.Row];
        row = SlotBytes(pages, target.Page, slot);
        if (!slot.Overflow()) return {header, target, row};
    }
    Damaged(quorlin::Format(Tr("the moved records on page %1$s point to each other in a loop"), header.Page));
}

}  // namespace

bool CountDisagrees(const TTableDef& def, std::size_t found) noexcept { return !def.System && found != def.RowCount; }

std::vector<TRecordPlace> RecordPlaces(const TPages& pages, const TTableDef& def)
{
    std::vector<TRecordPlace> places;
    // As many as the definition counts, when a file of this size could hold them: a large table
    // is then laid out once, not copied at every doubling.
    places.reserve(std::min<std::size_t>(def.RowCount, pages.Bytes().size() / sizeof(TRecordPlace)));
    std::vector<TRowSlot> slots;
    std::set<TRowId> targets;
    for (std::uint32_t page : DataPages(pages, def)) {
        ReadRowSlots(pages, page, slots);
        for (std::uint32_t r = 0; r < slots.size(); ++r) {
            const TRowSlot& slot = slots[r];
            if (slot.Deleted()) continue;
            const TRowId header{page, r};
            TRecordPlace place{header, header, SlotBytes(pages, page, slot)};
            if (slot.Overflow()) {
                place = FollowMoves(pages, def, header, place.Row);
                if (!targets.insert(place.Data).second) Damaged(quorlin::Format(Tr("two records on page %1$s share one row"), page));
            }
            places.push_back(place);
        }
    }
    // A moved copy not flagged deleted would otherwise be met twice.
    if (!targets.empty())
        std::erase_if(places, [&](const TRecordPlace& p) { return p.Header == p.Data && targets.count(p.Data) != 0; });
    return places;
}

std::size_t ScanTable(const TPages& pages, const TTableDef& def, const TRecordSink& onRecord,
                      const std::function<void()>& progress)
{
    const std::vector<TRecordPlace> places = RecordPlaces(pages, def);
    TRowFields fields;
    std::size_t count = 0;
    for (const TRecordPlace& place : places) {
        SplitRow(def, pages.Format(), place.Row, fields);
        onRecord(fields);
        if (++count % 4096 == 0 && progress) progress();
    }
    return count;
}

}  // namespace quorlin::jet
