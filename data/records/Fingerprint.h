#pragma once
// Which bytes a table's records were read from, as one number. A writer that has loaded a file
// compares it with the fingerprint the records carry: when they are equal, the records are what
// reading the loaded bytes would give, and the file need not be read again to know it.
//
// XXH3 (64 bits) is a checksum, not a cryptographic hash: it tells apart files that differ by
// accident or by another program's edit, not files built on purpose to collide.

#include <cstdint>
#include <span>
#include <string_view>

namespace quorlin {

// The file's bytes alone.
std::uint64_t FileHash(std::span<const std::uint8_t> bytes) noexcept;

// The records of one table of a file whose bytes hash to fileHash: the table's name is part of
// it, so that records of another table of the same file never pass for these.
std::uint64_t TableFingerprint(std::uint64_t fileHash, std::string_view table) noexcept;

}  // namespace quorlin
