#include "data/format/write/TextKey.h"

#include <algorithm>
#include <utility>

#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using K = TTextKey;

void Append(TBytes& out, std::span<const std::uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// The parts of a key other than the weights, gathered while the text is read.
class TKeyTail {
public:
    // Accents begin at the first character that has one, or at a modifier; the weighed
    // characters before it, and those between, count with NoAccent.
    void Accent(std::size_t weighed, std::span<const std::uint8_t> accent)
    {
        Pad(weighed);
        Append(FAccents, accent);
        ++FAccented;
    }
    void Modify(std::size_t weighed, std::uint8_t amount)
    {
        Pad(weighed);
        if (!FAccents.empty()) {
            FAccents.back() = static_cast<std::uint8_t>(FAccents.back() + amount);
        } else {
            FAccents.push_back(amount);
            FLeadingModifier = 1;
        }
    }
    void Mark(std::uint8_t mark) { FMarks.push_back(mark); }
    // A character without weight is placed among the accent bytes as they stand when it comes.
    void Position(std::size_t weighed, std::span<const std::uint8_t> code)
    {
        const std::size_t place = FStarted ? FAccents.size() + (weighed - FAccented) - FLeadingModifier : weighed;
        const std::size_t position = K::PositionFlag | (K::PositionStart + K::PositionStep * place);
        FPositions.push_back(static_cast<std::uint8_t>(position >> 8));
        FPositions.push_back(static_cast<std::uint8_t>(position));
        FPositions.push_back(K::PositionMid);
        Append(FPositions, code);
    }
    void WriteTo(TBytes& out);

private:
    void Pad(std::size_t weighed)
    {
        FStarted = true;
        for (; FAccented < weighed; ++FAccented) FAccents.push_back(K::NoAccent);
    }
    void WriteMarks(TBytes& out);

    TBytes FAccents, FMarks, FPositions;
    std::size_t FAccented = 0;         // weighed characters the accents account for
    std::size_t FLeadingModifier = 0;  // 1 when a modifier stands first, with no accent to add to
    bool FStarted = false;
};

void TKeyTail::WriteMarks(TBytes& out)
{
    while (!FMarks.empty() && FMarks.back() == K::MarkDefault) FMarks.pop_back();
    for (std::size_t i = 0; i < FMarks.size(); i += K::MarksPerByte) {
        std::uint8_t b = K::MarkStart;
        for (std::size_t j = 0; j < K::MarksPerByte && i + j < FMarks.size(); ++j)
            b = static_cast<std::uint8_t>(b | FMarks[i + j] << (K::MarkBits * (K::MarksPerByte - 1 - j)));
        out.push_back(b);
    }
    out.insert(out.end(), std::begin(K::MarksEnd), std::end(K::MarksEnd));
}

void TKeyTail::WriteTo(TBytes& out)
{
    while (!FAccents.empty() && FAccents.back() <= K::NoAccent) FAccents.pop_back();
    Append(out, FAccents);
    if (FMarks.empty() && FPositions.empty()) return;
    out.insert(out.end(), {K::EndWeights, K::EndWeights});
    if (!FMarks.empty()) {
        WriteMarks(out);
        if (!FPositions.empty()) out.push_back(K::MarksThenPositions);
    }
    if (!FPositions.empty()) {
        out.push_back(K::EndWeights);
        Append(out, FPositions);
    }
}

}  // namespace

TBytes TextKey(std::u16string_view text, const TSortOrder& order)
{
    text = text.substr(0, K::LongestKeyedText);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    TBytes key;
    TKeyTail tail;
    std::size_t weighed = 0;
    for (const char16_t unit : text) {
        const TCharCodes c = order.Codes(unit);
        const std::size_t before = weighed;
        if (!c.Weight.empty()) {
            Append(key, c.Weight);
            ++weighed;
        }
        switch (c.Kind) {
        case TCharKind::Ignored:
        case TCharKind::Weighed: break;
        case TCharKind::Accented: tail.Accent(before, c.Accent); break;
        case TCharKind::Marked:
            if (!c.Accent.empty()) tail.Accent(before, c.Accent);
            tail.Mark(c.Mark);
            break;
        case TCharKind::Positioned: tail.Position(before, c.Code); break;
        case TCharKind::AccentModifier: tail.Modify(before, c.Accent.front()); break;
        }
    }
    key.push_back(K::EndWeights);
    tail.WriteTo(key);
    key.push_back(K::EndKey);
    return key;
}

const TSortOrder* SortOrderOf(const TColumnDef& column) noexcept
{
    if (column.SortOrder != K::GeneralLocale) return nullptr;
    if (column.SortVersion == K::LegacyVersion) return &GeneralLegacySortOrder();
    if (column.SortVersion == K::GeneralVersion) return &GeneralSortOrder();
    return nullptr;
}

std::string SortOrderName(const TColumnDef& column)
{
    // The sort orders Access offers for a new database, by their locale.
    static constexpr std::pair<std::uint16_t, const char*> Names[] = {
        {1025, "Arabic"}, {2052, "Chinese PRC"}, {1028, "Chinese Taiwan"}, {1049, "Cyrillic"}, {1032, "Greek"},
        {1037, "Hebrew"}, {1041, "Japanese"},    {1042, "Korean"},         {1054, "Thai"},     {1055, "Turkish"}};
    if (column.SortOrder == K::GeneralLocale && column.SortVersion == K::LegacyVersion) return Tr("\"General (legacy)\"");
    if (column.SortOrder == K::GeneralLocale && column.SortVersion == K::GeneralVersion) return Tr("\"General\"");
    for (const auto& [locale, name] : Names)
        if (column.SortOrder == locale) return quorlin::Format(Tr("\"%1$s\" (locale %2$s)"), name, locale);
    return quorlin::Format(Tr("of locale %1$s, version %2$s"), column.SortOrder, column.SortVersion);
}

std::string SortOrderProblem(const TColumnDef& column)
{
    if (SortOrderOf(column)) return {};
    return quorlin::Format(Tr("its sort order is %1$s, whose keys only Access can write"), SortOrderName(column));
}

}  // namespace quorlin::jet
