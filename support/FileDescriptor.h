#pragma once
// A file descriptor owned: closed when its owner goes, or when it is given another.

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace quorlin {

// Writes all n bytes, whatever a signal interrupts; false when the descriptor takes no more.
inline bool WriteWhole(int fd, const char* p, std::size_t n) noexcept
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Up to n bytes, whatever a signal interrupts; 0 at the end or on a failure.
inline std::size_t ReadSome(int fd, char* p, std::size_t n) noexcept
{
    for (;;) {
        const ssize_t got = ::read(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        return got < 0 ? 0 : static_cast<std::size_t>(got);
    }
}

class TFd {
public:
    explicit TFd(int fd = -1) noexcept : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd(TFd&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    TFd& operator=(TFd&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    int Release() noexcept
    {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }
    // Negative when there is none (an open that failed).
    int Get() const noexcept { return FFd; }
    void Reset(int fd) noexcept
    {
        Close();
        FFd = fd;
    }
    // What close said: a file written through the descriptor is only known to be stored when
    // close succeeds.
    int Close() noexcept
    {
        int rc = 0;
        if (FFd >= 0) rc = ::close(FFd);
        FFd = -1;
        return rc;
    }

private:
    int FFd;
};

}  // namespace quorlin
