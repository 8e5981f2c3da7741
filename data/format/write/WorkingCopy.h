#pragma once
// The bytes of a database as a change rewrites them. Made from an open file, it is a private
// copy-on-write mapping of it: a change that writes a handful of pages of a large file copies
// those pages and no others, and the file itself is never written. Room for appended pages is
// reserved after the file's end, so that appending rarely moves the bytes.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "data/format/Bytes.h"

namespace quorlin::jet {

class TWorkingCopy {
public:
    // The bytes as given, held in memory.
    explicit TWorkingCopy(TBytes bytes);
    // The first size bytes of the open file fd, mapped; raises EUnreadable when they cannot be.
    TWorkingCopy(int fd, std::size_t size);
    ~TWorkingCopy();
    TWorkingCopy(TWorkingCopy&&) noexcept;
    TWorkingCopy& operator=(TWorkingCopy&&) noexcept;

    std::uint8_t* Data() noexcept;
    TView View() const noexcept;
    std::size_t Size() const noexcept { return FSize; }
    // count zero bytes more at the end; a view taken before may no longer be good.
    void Append(std::size_t count);

private:
    struct TRegion;
    TBytes FHeld;                     // made from bytes
    std::unique_ptr<TRegion> FRegion;  // made from a file
    std::size_t FSize = 0;
};

}  // namespace quorlin::jet
