#pragma once
// What each UTF-16 unit adds to a text key in a sort order (fact 10): the tables are generated at
// build time from the data files beside this one, and are constant data, loaded with the program.

#include <cstdint>
#include <span>

namespace quorlin::jet {

enum class TCharKind : std::uint8_t {
    Ignored,         // adds nothing
    Weighed,         // its weight
    Accented,        // its weight, and its accent among the accents
    Marked,          // its weight, its accent if it has one, and a mark among the marks
    Positioned,      // no weight: its code, with its place, after everything else
    AccentModifier,  // no weight: an amount added to the accent before it
};

struct TCharCodes {
    TCharKind Kind = TCharKind::Ignored;
    std::uint8_t Mark = 0;              // Marked: its two-bit mark
    std::span<const std::uint8_t> Weight;
    std::span<const std::uint8_t> Accent;  // AccentModifier: one byte, the amount
    std::span<const std::uint8_t> Code;    // Positioned
};

// A sort order's codes for every UTF-16 unit: one packed entry each, whose bytes are in a blob.
struct TPackedCodes {
    std::uint32_t At;           // where its bytes start in the blob: weight, accent, code
    std::uint8_t KindAndMark;   // a TCharKind, and its mark above KindBits
    std::uint8_t WeightSize;
    std::uint8_t AccentSize;
    std::uint8_t CodeSize;
    static constexpr unsigned KindBits = 3;
};

class TSortOrder {
public:
    constexpr TSortOrder(std::span<const TPackedCodes> entries, std::span<const std::uint8_t> bytes) noexcept
        : FEntries(entries), FBytes(bytes) {}
    // c indexes FEntries, which holds 0x10000 entries.
    TCharCodes Codes(char16_t c) const noexcept
    {
        const TPackedCodes& e = FEntries[c];
        const std::span<const std::uint8_t> bytes = FBytes.subspan(e.At, std::size_t{e.WeightSize} + e.AccentSize + e.CodeSize);
        return {static_cast<TCharKind>(e.KindAndMark & ((1u << TPackedCodes::KindBits) - 1)),
                static_cast<std::uint8_t>(e.KindAndMark >> TPackedCodes::KindBits), bytes.first(e.WeightSize),
                bytes.subspan(e.WeightSize, e.AccentSize), bytes.last(e.CodeSize)};
    }

private:
    std::span<const TPackedCodes> FEntries;
    std::span<const std::uint8_t> FBytes;
};

// General, as Access 2000 to 2007 key it (and later versions in files that keep it).
const TSortOrder& GeneralLegacySortOrder() noexcept;
// General, as Access 2010 and later key it.
const TSortOrder& GeneralSortOrder() noexcept;

}  // namespace quorlin::jet
