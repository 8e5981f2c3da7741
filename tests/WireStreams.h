#pragma once
// Streams between the reading process and the program, made and read in memory.

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "data/reading/Wire.h"

namespace quorlin::testing {

inline std::string Streamed(const std::function<void(TWireWriter&)>& write)
{
    std::string bytes;
    TWireWriter w([&](const char* p, std::size_t n) { bytes.append(p, n); });
    write(w);
    w.Flush();
    return bytes;
}

inline TTableData ReadStreamed(const std::string& bytes)
{
    std::size_t at = 0;
    TWireReader r([&](char* p, std::size_t n) {
        const std::size_t take = std::min(n, bytes.size() - at);
        std::memcpy(p, bytes.data() + at, take);
        at += take;
        return take;
    });
    return ReadTableStream(r);
}

}  // namespace quorlin::testing
