#pragma once
// Files that are not regular files, made for real in a test's folder: a FIFO, a socket and a
// device node. A program that treats them as ordinary files blocks, or leaves a regular file in
// their place.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace quorlin::testing {

inline bool MakeFifo(const std::filesystem::path& path) { return ::mkfifo(path.c_str(), 0666) == 0; }

// A socket file stays behind when the socket bound to it is closed.
inline bool MakeSocket(const std::filesystem::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path) return false;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// The null device's numbers, so that anything that does reach the node harms nothing. Making
// one needs root; callers skip when it fails.
inline bool MakeNullDevice(const std::filesystem::path& path)
{
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

// The type bits of what is at path, the link itself for a link; 0 when nothing is there.
inline mode_t TypeOf(const std::filesystem::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

}  // namespace quorlin::testing
