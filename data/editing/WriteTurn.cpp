#include "data/editing/WriteTurn.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/FileDescriptor.h"
#include "support/FileWrite.h"
#include "support/Messages.h"
#include "data/records/ProviderError.h"

namespace quorlin {

namespace {

constexpr auto RetryPause = std::chrono::milliseconds(20);

// Whether fd is still the file at path: a writer that renamed its file over it meanwhile
// leaves fd on a file that no longer has the name.
bool IsAtPath(int fd, const std::string& path)
{
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

// An exclusive lock of the whole file, owned by the open file rather than the process, so that
// the descriptors of one writer never undo each other's lock.
bool LockWhole(int fd)
{
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
}

// The fcntl lock needs the file open for writing; a file this user may not write is refused
// later with its own reason, and only the flock is taken on it.
bool LockForCooperatingPrograms(const std::string& path, std::vector<int>& files)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EROFS;
    if (!LockWhole(fd)) {
        ::close(fd);
        return false;
    }
    files.push_back(fd);
    return true;
}

}  // namespace

TWriteTurn::TWriteTurn(const std::string& path, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw EProviderError(Format(Tr("Could not find file '%1$s'."), path));
        int error = EWOULDBLOCK;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (!IsAtPath(fd, path)) {
                ::close(fd);  // replaced while we waited: the turn is taken on the new file
                continue;
            }
            FFiles.push_back(fd);
            if (LockForCooperatingPrograms(path, FFiles)) return;
            for (int held : FFiles) ::close(held);
            FFiles.clear();
        } else {
            error = errno;
            ::close(fd);
        }
        if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            throw EProviderError(
                Format(Tr("The database '%1$s' is being changed by another writer; try again in a moment."), path));
        std::this_thread::sleep_for(RetryPause);
    }
}

TWriteTurn::~TWriteTurn()
{
    for (int fd : FFiles) ::close(fd);
}

void TWriteTurn::Hold(int fd)
{
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0 || ::flock(held, LOCK_EX | LOCK_NB) != 0 || !LockWhole(held)) {
        if (held >= 0) ::close(held);
        throw EProviderError(Tr("The new database file cannot be locked; nothing was changed."));
    }
    FFiles.push_back(held);
}

std::vector<std::uint8_t> ReadWhole(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

bool FileAtPathHolds(const std::string& path, std::span<const std::uint8_t> bytes)
{
    const TFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return file.Get() >= 0 && FileHolds(file.Get(), bytes);
}

bool FileHolds(int fd, std::span<const std::uint8_t> bytes)
{
    const std::string_view whole(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return FileHolds(fd, std::span<const std::string_view>(&whole, 1));
}

namespace {

// Whether the file behind fd holds expected at offset at, read a piece at a time.
bool HoldsAt(int fd, std::string_view expected, std::uint64_t at, std::vector<char>& piece)
{
    while (!expected.empty()) {
        const ssize_t n = ::pread(fd, piece.data(), std::min(piece.size(), expected.size()), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const auto got = static_cast<std::size_t>(n);
        if (std::memcmp(piece.data(), expected.data(), got) != 0) return false;
        expected.remove_prefix(got);
        at += got;
    }
    return true;
}

}  // namespace

bool FileHolds(int fd, std::span<const std::string_view> pieces)
{
    constexpr std::size_t PieceSize = std::size_t{1} << 20;
    std::vector<char> piece(PieceSize);
    std::uint64_t at = 0;
    for (std::string_view expected : pieces) {
        if (!HoldsAt(fd, expected, at, piece)) return false;
        at += expected.size();
    }
    // Nothing more: a file that is longer shows it.
    for (;;) {
        const ssize_t n = ::pread(fd, piece.data(), 1, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        return n == 0;
    }
}

void RemoveStaleTemporaries(const std::string& path)
{
    namespace fs = std::filesystem;
    const std::string prefix = fs::path(TemporaryFilePrefix(path)).filename().string();
    std::error_code ec;
    const fs::path folder = fs::absolute(path, ec).parent_path();
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().starts_with(prefix)) fs::remove(entry.path(), ec);
}

}  // namespace quorlin
