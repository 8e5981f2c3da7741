#include "TableScan.h"

#include <set>
#include <string>

#include "Damage.h"
#include "UsageMap.h"

namespace quorlin::jet {

namespace {

// A record moved again and again is still reached in a few steps; more is a loop.
constexpr int MaxMoves = 16;

std::string PageText(std::uint32_t page) { return "page " + std::to_string(page); }

// The data pages of the table, checked to be its own.
std::vector<std::uint32_t> DataPages(const TPages& pages, const TTableDef& def)
{
    std::vector<std::uint32_t> result;
    for (std::uint32_t page : ReadUsageMap(pages, def.OwnedPages)) {
        if (pages.Type(page) != TPageType::Data || IsLongValuePage(pages, page)) continue;
        if (DataPageOwner(pages, page) != def.Page) Damaged(PageText(page) + " belongs to another table");
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
        if (row.size() < RowIdSize) Damaged("a moved record's pointer on " + PageText(header.Page) + " is cut short");
        const TRowId target = TRowId::Unpack(Get32(row.data()));
        if (pages.Type(target.Page) != TPageType::Data || DataPageOwner(pages, target.Page) != def.Page)
            Damaged("a record on " + PageText(header.Page) + " points to " + PageText(target.Page) +
                    ", which is not the table's");
        const auto slots = RowSlots(pages, target.Page);
        if (target.Row >= slots.size())
            Damaged("a record on " + PageText(header.Page) + " points to a row that does not exist");
        const TRowSlot& slot = slots[target.Row];
        row = SlotBytes(pages, target.Page, slot);
        if (!slot.Overflow()) return {header, target, row};
    }
    Damaged("the moved records on " + PageText(header.Page) + " point to each other in a loop");
}

}  // namespace

bool CountDisagrees(const TTableDef& def, std::size_t found) noexcept { return !def.System && found != def.RowCount; }

std::vector<TRecordPlace> RecordPlaces(const TPages& pages, const TTableDef& def)
{
    std::vector<TRecordPlace> places;
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
                if (!targets.insert(place.Data).second) Damaged("two records on " + PageText(page) + " share one row");
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
