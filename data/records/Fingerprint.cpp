#include "data/records/Fingerprint.h"

#include <xxhash.h>

namespace quorlin {

std::uint64_t FileHash(std::span<const std::uint8_t> bytes) noexcept { return XXH3_64bits(bytes.data(), bytes.size()); }

std::uint64_t TableFingerprint(std::uint64_t fileHash, std::string_view table) noexcept
{
    return XXH3_64bits_withSeed(table.data(), table.size(), fileHash);
}

}  // namespace quorlin
