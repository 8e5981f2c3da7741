#include "data/format/write/KeptKeys.h"

#include <algorithm>

#include "data/format/Damage.h"
#include "data/format/read/IndexTree.h"
#include "data/format/read/RowCodec.h"
#include "data/format/read/Text.h"
#include "data/format/write/IndexWriter.h"
#include "data/format/write/TextKey.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

const TColumnDef* UnkeyableText(const TTableDef& def, const TRealIndex& index)
{
    for (const TIndexColumn& ic : index.Columns) {
        const TColumnDef& col = def.Columns[ic.Column];
        if (col.Type == TColumnType::Text && !SortOrderOf(col)) return &col;
    }
    return nullptr;
}

// Whether the field holds the same value in both: text compared as text, however it is stored.
bool SameValue(const TColumnDef& col, const TRowFields& a, const TRowFields& b, std::size_t c)
{
    if (a.Present[c] != b.Present[c]) return false;
    if (!a.Present[c]) return true;
    if (col.Type == TColumnType::Text) return Utf16Units(a.Data[c]) == Utf16Units(b.Data[c]);
    return std::ranges::equal(a.Data[c], b.Data[c]);
}

[[noreturn]] void RefuseNewKey(const TTableDef& def, const TRealIndex& index, const TColumnDef& text, const std::string& field)
{
    Refused(quorlin::Format(Tr("The index '%1$s' of the table '%2$s' keeps the field '%3$s' in the sort order %4$s, whose keys "
                               "only Access can write: its records can be corrected and deleted here, but %5$s."),
                            index.Name, def.Name, text.Name, SortOrderName(text),
                            field.empty() ? Tr("no record can be added")
                                          : quorlin::Format(Tr("the field '%1$s' cannot be changed"), field)));
}

}  // namespace

bool KeepsWrittenKeys(const TTableDef& def, const TRealIndex& index) { return UnkeyableText(def, index) != nullptr; }

TKeptKeys::TKeptKeys(const TPages& pages, const TTableDef& def, const std::vector<TRecordPlace>& places)
{
    std::map<TRowId, std::size_t> records;  // by the row pointer an entry holds
    for (std::size_t i = 0; i < def.Indexes.size(); ++i) {
        const TRealIndex& index = def.Indexes[i];
        if (!KeepsWrittenKeys(def, index)) continue;
        if (records.empty())
            for (std::size_t r = 0; r < places.size(); ++r) records[places[r].Header] = r;
        std::vector<TBytes>& keys = FKeys[i];
        keys.resize(places.size());
        for (TIndexEntryBytes& e : IndexEntries(pages, def, index)) {
            const auto r = records.find(e.Row);
            if (r == records.end() || !keys[r->second].empty() || e.Key.empty())
                Damaged(quorlin::Format(Tr("The index '%1$s' of the table '%2$s' does not point at its records one for one."),
                                        index.Name, def.Name));
            keys[r->second] = std::move(e.Key);
        }
        TRowFields fields;
        for (std::size_t r = 0; r < places.size(); ++r) {
            if (!keys[r].empty()) continue;
            SplitRow(def, pages.Format(), places[r].Row, fields);
            if (!(index.IgnoreNulls() && AllNull(index, fields)))
                Damaged(quorlin::Format(Tr("The index '%1$s' of the table '%2$s' has no entry for one of its records."), index.Name,
                                        def.Name));
        }
    }
}

void TKeptKeys::CheckChanges(const TTableDef& def, const TFormat& format, const TTableChanges& changes,
                             const std::vector<TView>& stored, const std::vector<TView>& rows) const
{
    TRowFields before, after;
    for (const auto& [i, keys] : FKeys) {
        const TRealIndex& index = def.Indexes[i];
        const TColumnDef& text = *UnkeyableText(def, index);
        if (!changes.Inserts.empty()) RefuseNewKey(def, index, text, {});
        // Updated records keep their place in rows: those before them that were deleted aside.
        std::size_t deletedBefore = 0;
        auto deleted = changes.Deletes.begin();
        for (const auto& update : changes.Updates) {
            for (; deleted != changes.Deletes.end() && *deleted < update.first; ++deleted) ++deletedBefore;
            SplitRow(def, format, stored[update.first], before);
            SplitRow(def, format, rows[update.first - deletedBefore], after);
            for (const TIndexColumn& ic : index.Columns)
                if (!SameValue(def.Columns[ic.Column], before, after, ic.Column))
                    RefuseNewKey(def, index, text, def.Columns[ic.Column].Name);
        }
    }
}

std::vector<const TBytes*> TKeptKeys::KeysOf(std::size_t index, const std::vector<std::size_t>& origins) const
{
    std::vector<const TBytes*> keys;
    const auto kept = FKeys.find(index);
    if (kept == FKeys.end()) return keys;
    keys.reserve(origins.size());
    for (const std::size_t r : origins) keys.push_back(kept->second[r].empty() ? nullptr : &kept->second[r]);
    return keys;
}

}  // namespace quorlin::jet
