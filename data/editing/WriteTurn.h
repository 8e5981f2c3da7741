#pragma once
// Writers of one database file take turns: a writer holds the file's advisory lock from before
// it reads the file until it has read its change back, and whichever file is at the path
// meanwhile, the one it read or the one it wrote, is locked by it. Two kinds of lock: flock, which
// our own writers take, and an exclusive whole-file fcntl lock of the open file (OFD), which
// other programs that lock by fcntl respect.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

class TWriteTurn {
public:
    // Waits for the turn up to wait; then raises EProviderError ("… is being changed by
    // another writer").
    TWriteTurn(const std::string& path, std::chrono::milliseconds wait);
    ~TWriteTurn();
    TWriteTurn(const TWriteTurn&) = delete;
    TWriteTurn& operator=(const TWriteTurn&) = delete;

    // The file as it was when the turn was taken; a program that writes in place writes into it.
    int File() const noexcept { return FFiles.front(); }
    // Locks the file that is about to take the name, so that no writer finds it free.
    void Hold(int fd);

private:
    std::vector<int> FFiles;
};

// All of the file behind fd, as it is now.
std::vector<std::uint8_t> ReadWhole(int fd);
// Whether the file behind fd holds exactly bytes, no more and no less. It is read a piece at a
// time, so that asking costs no copy of the file.
bool FileHolds(int fd, std::span<const std::uint8_t> bytes);
// The same, of bytes in pieces one after another.
bool FileHolds(int fd, std::span<const std::string_view> pieces);
// The same of the file at path (false when it cannot be opened).
bool FileAtPathHolds(const std::string& path, std::span<const std::uint8_t> bytes);

// Temporary files of writers of path that died before they renamed theirs: removed, which only
// the writer whose turn it is may do.
void RemoveStaleTemporaries(const std::string& path);

}  // namespace quorlin
