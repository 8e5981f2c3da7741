#pragma once
// A database file mapped read-only: pages are read where they lie, without a copy. The mapping
// is private, so nothing this process does can reach the file; another program's write into the
// file may still show through, which is why a writer compares what it built on with what it
// loaded.

#include <cstddef>
#include <cstdint>
#include <string>

#include "data/format/Bytes.h"

namespace quorlin::jet {

class TFileMapping {
public:
    // opened, when not negative, is the file already open (and stays open); otherwise path is
    // opened. Raises EUnreadable when the file cannot be opened; an empty file maps to nothing.
    TFileMapping(const std::string& path, int opened);
    ~TFileMapping();
    TFileMapping(const TFileMapping&) = delete;
    TFileMapping& operator=(const TFileMapping&) = delete;

    TView Bytes() const noexcept { return TView(FData, FSize); }

private:
    const std::uint8_t* FData = nullptr;
    std::size_t FSize = 0;
};

}  // namespace quorlin::jet
