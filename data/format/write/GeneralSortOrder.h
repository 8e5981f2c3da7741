#pragma once
// Where the characters this program can key stand in Access's General sort order (fact 10).

#include <cstdint>

namespace quorlin::jet {

struct TCharWeight {
    std::uint8_t Weight[2];   // the bytes it adds to the weights: one for a letter or a digit
    std::uint8_t WeightSize;  // 0 for a character with no weight of its own
    std::uint8_t Accent;      // its accent mark (TTextKey::NoAccent for none)
    std::uint8_t Code;        // without weight: what follows its position
    bool TwoLetters;          // a ligature, weighing as the two letters it joins
};

// Characters from U+0001 to this one are known.
constexpr char16_t LastWeighedCharacter = 0x00FF;

// c from U+0001 to LastWeighedCharacter.
const TCharWeight& GeneralWeight(char16_t c) noexcept;

}  // namespace quorlin::jet
