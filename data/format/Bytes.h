#pragma once
// Little-endian integers in a file's bytes. Access stores every number of its own structures
// this way, but for index keys, which are big-endian so that they sort as bytes.

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace quorlin::jet {

using TBytes = std::vector<std::uint8_t>;
using TView = std::span<const std::uint8_t>;

inline std::uint16_t Get16(const std::uint8_t* p) noexcept { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Get24(const std::uint8_t* p) noexcept
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16;
}
inline std::uint32_t Get32(const std::uint8_t* p) noexcept { return Get24(p) | static_cast<std::uint32_t>(p[3]) << 24; }

template <class T>
T GetAs(const std::uint8_t* p) noexcept
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Put16(std::uint8_t* p, std::uint32_t v) noexcept
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) noexcept
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// Index keys: the most significant byte first.
inline void AppendBigEndian32(TBytes& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace quorlin::jet
