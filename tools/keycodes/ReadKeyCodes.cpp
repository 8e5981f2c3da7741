// Reads what each character adds to a text key off a scratch file whose table "Keys" keys every
// character of the Basic Multilingual Plane alone (Id = code * 2) and followed by 'é'
// (Id = code * 2 + 1), in an ascending and a descending index over its field "Text"
// (tests/tools/TextKeyCodes.java writes it). Prints one line per character, then checks that the
// codes read build every key of the file again, both ways, and fails when one differs.
//   quorlin-read-key-codes FILE > codes.txt
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>

#include "data/format/read/Database.h"
#include "data/format/read/IndexTree.h"
#include "data/format/read/RowCodec.h"
#include "data/format/read/Text.h"
#include "data/format/write/TextKey.h"
#include "data/format/write/sortorder/KeyCodesFile.h"

using namespace quorlin;
using namespace quorlin::jet;

namespace {

using K = TTextKey;

constexpr char16_t Accented = u'\u00E9';

std::vector<std::size_t> Occurrences(const TBytes& in, const TBytes& what, std::size_t from = 0)
{
    std::vector<std::size_t> at;
    for (std::size_t i = from; i + what.size() <= in.size(); ++i)
        if (std::equal(what.begin(), what.end(), in.begin() + static_cast<std::ptrdiff_t>(i))) at.push_back(i);
    return at;
}

TBytes Slice(const TBytes& b, std::size_t from, std::size_t to)
{
    return TBytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

// The codes that could give c the keys read: a weight and an accent from the key of c followed
// by the accented letter (a space alone is left out of its key), each kind with them.
std::vector<TCharCode> Candidates(const TBytes& alone, const TBytes& with, const TCharCode& accented)
{
    std::vector<TCharCode> all;
    TBytes weightsEnd = accented.Weight;
    weightsEnd.push_back(K::EndWeights);
    for (const std::size_t p : Occurrences(with, weightsEnd)) {
        const TBytes weight = Slice(with, 0, p);
        const std::size_t accents = p + weightsEnd.size();
        for (const std::size_t q : Occurrences(with, accented.Accent, accents)) {
            const TBytes own = Slice(with, accents, q);
            if (weight.empty()) {
                all.push_back({});
                if (own.size() == 1) all.push_back({TCharKind::AccentModifier, 0, {}, own, {}});
                const TBytes first{K::EndWeights, K::EndWeights, K::EndWeights, K::EndWeights,
                                   K::PositionFlag >> 8, K::PositionStart, K::PositionMid};
                if (alone.size() > first.size() && Occurrences(alone, first) == std::vector<std::size_t>{0})
                    all.push_back({TCharKind::Positioned, 0, {}, {}, Slice(alone, first.size(), alone.size() - 1)});
                continue;
            }
            all.push_back({TCharKind::Weighed, 0, weight, {}, {}});
            all.push_back({TCharKind::Accented, 0, weight, own, {}});
            for (std::uint8_t mark = 0; mark < 4; ++mark) {
                all.push_back({TCharKind::Marked, mark, weight, {}, {}});
                all.push_back({TCharKind::Marked, mark, weight, own, {}});
            }
        }
    }
    return all;
}

// The codes of c, as the keys of c alone and followed by the accented letter show them; scratch
// is a sort order that knows the accented letter.
TCharCode Derive(char16_t c, TOwnedSortOrder& scratch, const TBytes& alone, const TBytes& with, const TCharCode& accented)
{
    for (const TCharCode& candidate : Candidates(alone, with, accented)) {
        scratch.Set(c, candidate);
        if (c != Accented) scratch.Set(Accented, accented);
        const TSortOrder order = scratch.Order();
        const bool fits = TextKey(std::u16string(1, c), order) == alone && TextKey(std::u16string{c, Accented}, order) == with;
        scratch.Set(c, {});
        if (fits) return candidate;
    }
    throw std::runtime_error("no codes give its keys");
}

// The accented letter's own codes, from its key alone: a weight, EndWeights, one accent byte.
TCharCode AccentedCodes(const TBytes& alone)
{
    if (alone.size() < 4) throw std::runtime_error("the accented letter's key is too short");
    return {TCharKind::Accented, 0, Slice(alone, 0, alone.size() - 3), Slice(alone, alone.size() - 2, alone.size() - 1), {}};
}

struct TScratch {
    std::map<std::uint32_t, std::u16string> Texts;  // by Id
    std::map<std::uint32_t, TBytes> Up, Down;       // the keys, by Id, flag byte included
    TColumnDef Text;
};

TScratch ReadScratch(const std::string& path)
{
    TDatabase db(path);
    const TCatalogEntry* entry = db.FindTable("Keys");
    if (!entry) throw std::runtime_error("no table Keys");
    const TTableDef def = db.TableDef(*entry);
    TScratch s;
    s.Text = def.Columns.at(1);
    std::map<TRowId, std::uint32_t> ids;
    for (const TRecordPlace& place : RecordPlaces(db.Pages(), def)) {
        TRowFields fields;
        SplitRow(def, db.Format(), place.Row, fields);
        const std::uint32_t id = Get32(fields.Data[0].data());
        ids[place.Header] = id;
        s.Texts[id] = Utf16Units(fields.Data[1]);
    }
    for (const TRealIndex& index : def.Indexes)
        for (const TIndexEntryBytes& e : IndexEntries(db.Pages(), def, index))
            (index.Columns.at(0).Ascending ? s.Up : s.Down)[ids.at(e.Row)] = e.Key;
    return s;
}

// The scratch file's keys against those the codes build, both ways; the count that differ.
// The text of a row of the file of every unit: a lone surrogate is not kept as itself in the
// file, but the library keyed it.
std::u16string UnitText(std::uint32_t id)
{
    std::u16string text(1, static_cast<char16_t>(id / 2));
    if (id % 2) text += Accented;
    return text;
}

std::size_t Check(const TScratch& s, const TSortOrder& order, bool everyUnit)
{
    std::size_t wrong = 0;
    for (const auto& [id, text] : s.Texts) {
        for (const bool up : {true, false}) {
            const TBytes built = TextKey(everyUnit ? UnitText(id) : text, order);
            TBytes expected{TIndexKey::ValueField};
            expected.insert(expected.end(), built.begin(), built.end());
            if (!up) {
                for (std::uint8_t& b : expected) b = static_cast<std::uint8_t>(~b);
                expected.push_back(K::EndKey);
            }
            if ((up ? s.Up : s.Down).at(id) == expected) continue;
            if (++wrong <= 10) std::cerr << "differs: Id " << id << (up ? " up" : " down") << "\n";
        }
    }
    return wrong;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: quorlin-read-key-codes SCRATCH [CODES-TO-CHECK]\n";
        return 2;
    }
    try {
        const TScratch s = ReadScratch(argv[1]);
        std::vector<TCharCode> codes(0x10000);
        if (argc == 3) {
            codes = ReadKeyCodes(argv[2]);  // check another file's keys against codes read before
        } else {
            const auto body = [&](std::uint32_t id) { return Slice(s.Up.at(id), 1, s.Up.at(id).size()); };
            const TCharCode accented = AccentedCodes(body(2 * Accented));
            TOwnedSortOrder scratch(codes);
            for (std::uint32_t c = 0; c < 0x10000; ++c) {
                if (!s.Texts.count(2 * c)) continue;
                const TBytes alone = body(2 * c), with = body(2 * c + 1);
                try {
                    codes[c] = Derive(static_cast<char16_t>(c), scratch, alone, with, accented);
                } catch (const std::exception& e) {
                    char where[32];
                    std::snprintf(where, sizeof where, "U+%04X: ", c);
                    std::string keys;
                    for (const TBytes* k : {&alone, &with}) {
                        keys += "\n ";
                        for (const std::uint8_t b : *k) {
                            char hex[4];
                            std::snprintf(hex, sizeof hex, " %02X", b);
                            keys += hex;
                        }
                    }
                    throw std::runtime_error(where + std::string(e.what()) + keys);
                }
            }
        }
        const TOwnedSortOrder order(codes);
        const std::size_t wrong = Check(s, order.Order(), argc == 2);
        std::cerr << "sort order " << s.Text.SortOrder << " version " << int(s.Text.SortVersion) << ": " << s.Texts.size()
                  << " texts, " << wrong << " keys differ\n";
        if (argc == 2) WriteKeyCodes(std::cout, codes);
        return wrong == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
