#include "data/format/write/TextKey.h"

#include <cstdio>
#include <optional>

#include "support/TextCodec.h"
#include "data/format/write/GeneralSortOrder.h"
#include "support/Messages.h"

namespace quorlin::jet {

namespace {

using K = TTextKey;

// The character at i, as the user would read it, with its code point.
std::string Shown(std::u16string_view text, std::size_t i)
{
    const bool pair = text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                      text[i + 1] < 0xE000;
    const char32_t code = pair ? 0x10000 + ((text[i] - 0xD800) << 10) + (text[i + 1] - 0xDC00) : text[i];
    char number[16];
    std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(code));
    std::string glyph;
    try {
        glyph = Utf16ToUtf8(text.substr(i, pair ? 2 : 1));
    } catch (const std::exception&) {  // a lone surrogate has no glyph
    }
    return glyph.empty() || code < 0x20 ? std::string(number) : "'" + glyph + "' (" + number + ")";
}

void AppendPosition(TBytes& out, std::size_t weighted, std::uint8_t code)
{
    const std::size_t position = K::PositionFlag | (K::PositionStart + K::PositionStep * weighted);
    out.push_back(static_cast<std::uint8_t>(position >> 8));
    out.push_back(static_cast<std::uint8_t>(position));
    out.push_back(K::PositionMid);
    out.push_back(code);
}

}  // namespace

TTextKeyResult GeneralTextKey(std::u16string_view text)
{
    TTextKeyResult result;
    if (!text.empty() && text.back() == u' ') {
        result.Problem = Tr("it ends in a space, which Access leaves out of its keys in a way not known here");
        return result;
    }
    TBytes accents, positions;
    std::size_t weighted = 0;
    std::optional<std::size_t> ligature;  // the first one's place
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0 || c > LastWeighedCharacter) {
            result.Problem =
                quorlin::Format(Tr("it holds the character %1$s, whose place in Access's sort order is not known here"), Shown(text, i));
            return result;
        }
        const TCharWeight& w = GeneralWeight(c);
        if (w.WeightSize == 0) {
            // Whether a ligature counts as one character or two in the positions is not known.
            if (ligature) {
                result.Problem = quorlin::Format(Tr("it holds the character %1$s after the ligature %2$s, a combination whose key is "
                                                    "not known here"),
                                                 Shown(text, i), Shown(text, *ligature));
                return result;
            }
            if (K::PositionStart + K::PositionStep * weighted >= K::PositionFlag) {
                result.Problem = Tr("it is too long to key");
                return result;
            }
            AppendPosition(positions, weighted, w.Code);
            continue;
        }
        result.Bytes.insert(result.Bytes.end(), w.Weight, w.Weight + w.WeightSize);
        accents.push_back(w.Accent);
        ++weighted;
        if (w.TwoLetters && !ligature) ligature = i;
    }
    while (!accents.empty() && accents.back() == K::NoAccent) accents.pop_back();
    result.Bytes.push_back(K::EndWeights);
    result.Bytes.insert(result.Bytes.end(), accents.begin(), accents.end());
    if (!positions.empty()) {
        result.Bytes.insert(result.Bytes.end(), {K::EndWeights, K::EndWeights, K::EndWeights});
        result.Bytes.insert(result.Bytes.end(), positions.begin(), positions.end());
    }
    result.Bytes.push_back(K::EndKey);
    return result;
}

std::string SortOrderProblem(const TColumnDef& column)
{
    if (column.SortOrder == K::GeneralLocale && column.SortVersion == K::GeneralVersion) return {};
    const std::string order = quorlin::Format(Tr("locale %1$s, version %2$s"), column.SortOrder, column.SortVersion);
    if (column.SortOrder == K::GeneralLocale)
        return quorlin::Format(Tr("its sort order is the General sort order of Access 2010 and later (%1$s), whose keys this "
                                  "program cannot yet write"),
                               order);
    return quorlin::Format(Tr("its sort order (%1$s) is not the General one, whose keys are the only ones this program writes"),
                           order);
}

}  // namespace quorlin::jet
