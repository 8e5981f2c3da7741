#include "data/format/write/WorkingCopy.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "data/format/Damage.h"
#include "support/Messages.h"

namespace quorlin::jet {

// Address space reserved and not yet backed: pages the change never touches cost nothing.
struct TWorkingCopy::TRegion {
    explicit TRegion(std::size_t length)
        : Address(::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)),
          Length(length)
    {
        if (Address == MAP_FAILED) throw EUnreadable(Tr("Not enough memory to change the database file"));
    }
    ~TRegion() { ::munmap(Address, Length); }
    TRegion(const TRegion&) = delete;
    TRegion& operator=(const TRegion&) = delete;

    std::uint8_t* Bytes() const noexcept { return static_cast<std::uint8_t*>(Address); }

    void* Address;
    std::size_t Length;
};

namespace {

// Room after the file for what a change appends: a quarter more, and never less than 64 MiB. The
// editing process may map no more than 4 GiB in all, and the file is mapped once more as loaded.
std::size_t Reservation(std::size_t size) { return size + std::max<std::size_t>(size / 4, std::size_t{64} << 20); }

}  // namespace

TWorkingCopy::TWorkingCopy(TBytes bytes) : FHeld(std::move(bytes)), FSize(FHeld.size()) {}

TWorkingCopy::TWorkingCopy(int fd, std::size_t size) : FRegion(std::make_unique<TRegion>(Reservation(size))), FSize(size)
{
    // Private: the file's pages are shared until one is written, and then only that page is
    // copied. Every page is read, so all are mapped at once, read-only (populating a writable
    // private mapping would copy them all), and then made writable.
    if (size == 0) return;
    if (::mmap(FRegion->Address, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED ||
        ::mprotect(FRegion->Address, size, PROT_READ | PROT_WRITE) != 0)
        throw EUnreadable(Tr("Cannot map the database file to change it"));
}

TWorkingCopy::~TWorkingCopy() = default;
TWorkingCopy::TWorkingCopy(TWorkingCopy&&) noexcept = default;
TWorkingCopy& TWorkingCopy::operator=(TWorkingCopy&&) noexcept = default;

std::uint8_t* TWorkingCopy::Data() noexcept { return FRegion ? FRegion->Bytes() : FHeld.data(); }

TView TWorkingCopy::View() const noexcept { return TView(FRegion ? FRegion->Bytes() : FHeld.data(), FSize); }

void TWorkingCopy::Append(std::size_t count)
{
    if (!FRegion) {
        FHeld.resize(FSize + count, 0);
    } else if (FSize + count > FRegion->Length) {
        // Past the reservation: a larger one, the bytes so far copied into it.
        auto larger = std::make_unique<TRegion>(Reservation(FSize + count));
        std::memcpy(larger->Address, FRegion->Address, FSize);
        FRegion = std::move(larger);
    }
    // The reserved pages are zeros until written.
    FSize += count;
}

}  // namespace quorlin::jet
