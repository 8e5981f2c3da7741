#pragma once
// A file descriptor owned: closed when its owner goes, or when it is given another.

#include <unistd.h>

namespace quorlin {

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
