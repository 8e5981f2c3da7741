#include "Isolation.h"
#include "MdbAccess.h"
#include "ViewEngine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quorlin {

namespace {

bool WriteAll(int fd, const char* p, std::size_t n) noexcept
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

[[noreturn]] void ChildMain(int out,
                            const std::function<void(TWireWriter&, const std::function<void()>&)>& work) noexcept
{
    // Nothing the reading process might print may reach this program's own output; failures
    // come back through the stream.
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull >= 0) {
        ::dup2(devnull, STDOUT_FILENO);
        ::dup2(devnull, STDERR_FILENO);
    }
#if !defined(__SANITIZE_ADDRESS__)
    // A damaged chain of pages can make a read allocate without end.
    const rlimit limit{rlim_t{4} << 30, rlim_t{4} << 30};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
    bool ok = true;
    TWireWriter w([&](const char* p, std::size_t n) {
        if (!WriteAll(out, p, n)) ok = false;
    });
    try {
        w.U8(static_cast<std::uint8_t>(TWireMark::Start));
        work(w, [&w] {
            if (w.Empty()) w.U8(static_cast<std::uint8_t>(TWireMark::Progress));
            w.Flush();
        });
    } catch (const std::exception& e) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Failure));
        w.Str(e.what());
    } catch (...) {
        w.U8(static_cast<std::uint8_t>(TWireMark::Failure));
        w.Str("The database file could not be read");
    }
    w.Flush();
    ::_exit(ok ? 0 : 3);
}

// The program's end of the pipe: reads with a limit on silence, and ends the reading process
// whatever happens.
class TChild {
public:
    TChild(pid_t pid, int fd) : FPid(pid), FFd(fd), FTimeoutMs(IsolatedReadTimeout() * 1000) {}
    ~TChild() { Finish(true); }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    std::size_t Read(char* p, std::size_t n)
    {
        for (;;) {
            pollfd fd{FFd, POLLIN, 0};
            const int ready = ::poll(&fd, 1, FTimeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) throw EWireError();  // silent too long: taken to hang
            const ssize_t got = ::read(FFd, p, n);
            if (got < 0 && errno == EINTR) continue;
            return got < 0 ? 0 : static_cast<std::size_t>(got);
        }
    }

    // True when the reading process ended by itself and without failure.
    bool Finish(bool kill) noexcept
    {
        if (FPid <= 0) return FClean;
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
        if (kill) ::kill(FPid, SIGKILL);
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
        FClean = !kill && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return FClean;
    }

private:
    pid_t FPid;
    int FFd;
    int FTimeoutMs;
    bool FClean = false;
};

}  // namespace

int IsolatedReadTimeout()
{
    if (const char* text = std::getenv("QUORLIN_READ_TIMEOUT")) {
        const int seconds = std::atoi(text);
        if (seconds > 0) return seconds;
    }
    return 30;
}

void RunIsolated(const std::function<void(TWireWriter&, const std::function<void()>&)>& work,
                 const std::function<void(TWireReader&)>& consume, const std::string& failureMessage)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw EProviderError(failureMessage);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw EProviderError(failureMessage);
    }
    if (pid == 0) {
        ::close(fds[0]);
        ChildMain(fds[1], work);
    }
    ::close(fds[1]);

    TChild child(pid, fds[0]);
    TWireReader reader([&](char* p, std::size_t n) { return child.Read(p, n); });
    try {
        const auto mark = static_cast<TWireMark>(reader.U8());
        if (mark == TWireMark::Failure) throw EProviderError(reader.Str());
        if (mark != TWireMark::Start) throw EWireError();
        consume(reader);
    } catch (const EWireError&) {
        child.Finish(true);
        throw EProviderError(failureMessage);
    }
    // Everything arrived; the reading process must also have ended well for it to count.
    char extra;
    if (child.Read(&extra, 1) != 0 || !child.Finish(false)) throw EProviderError(failureMessage);
}

TTableData ReadRecordsIsolated(const std::string& path, const std::string& name, bool view)
{
    TTableData data;
    RunIsolated(
        [&](TWireWriter& w, const std::function<void()>& heartbeat) {
            if (view)
                StreamViewRecords(path, name, w, heartbeat);
            else
                StreamTableRecords(path, name, w, heartbeat);
        },
        [&](TWireReader& r) { data = ReadTableStream(r); },
        "The table '" + name + "' cannot be read: the database file '" + path + "' is damaged");
    return data;
}

}  // namespace quorlin
