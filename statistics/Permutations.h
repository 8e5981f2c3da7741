#pragma once
// Random orders of the records, the same for the same seed on every platform: the generator is
// std::mt19937_64, whose output the C++ standard fixes, and the draws are made here from its
// raw output (the library's distributions and std::shuffle differ between implementations).

#include <cstdint>
#include <random>
#include <vector>

namespace quorlin {

class TPermutations {
public:
    TPermutations(std::uint64_t seed, std::int32_t count);

    // The next order: a Fisher–Yates shuffle of 0 .. count - 1, each order equally likely.
    const std::vector<std::int32_t>& Next();

private:
    // Uniform on 0 .. bound - 1, by rejecting the few raw draws that would favour small values.
    std::uint64_t Below(std::uint64_t bound);

    std::mt19937_64 FGenerator;
    std::vector<std::int32_t> FOrder;
};

}  // namespace quorlin
