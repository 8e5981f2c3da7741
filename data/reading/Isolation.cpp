#include "data/reading/Isolation.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "data/reading/ReaderLanguage.h"
#include "data/records/RecordLimit.h"
#include "support/EnvironmentSetting.h"
#include "support/Messages.h"

extern char** environ;

namespace quorlin {

namespace {

constexpr int PipeBytes = 1 << 20;
constexpr int HandedFd = 3;

std::string ReaderProgram() { return ProgramBeside("quorlin-reader", QUORLIN_READER_BUILD_PATH); }

bool Named(std::string_view entry, std::string_view name)
{
    return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
}

// This program's environment, with the language spoken and where its catalogs are, and the
// run's own variables, in place of any such variables it had.
std::vector<std::string> ReaderEnvironment(const std::vector<std::string>& own)
{
    const auto replaced = [&](const char* entry) {
        return Named(entry, ReaderLanguageVariable) || Named(entry, ReaderCatalogsVariable) ||
               std::any_of(own.begin(), own.end(),
                           [&](const std::string& v) { return Named(entry, std::string_view(v).substr(0, v.find('='))); });
    };
    std::vector<std::string> variables;
    for (char** e = environ; e && *e; ++e)
        if (!replaced(*e)) variables.emplace_back(*e);
    variables.insert(variables.end(), own.begin(), own.end());
    variables.push_back(std::string(ReaderLanguageVariable) + "=" + LanguageTag(Spoken()));
    variables.push_back(std::string(ReaderCatalogsVariable) + "=" + SpokenCatalogFolder());
    return variables;
}

// Starts the program with its standard output on the pipe's writing end, its standard input on
// input when it is handed one, and its error output discarded; its environment is this
// program's but for nothing it needs.
pid_t StartConfined(const TConfinedRun& run, int out)
{
    const std::string& program = run.Program;
    const int input = run.Input, handed = run.Handed;
    std::vector<std::string> words{program};
    words.insert(words.end(), run.Arguments.begin(), run.Arguments.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = ReaderEnvironment(run.Environment);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    if (handed >= 0) posix_spawn_file_actions_adddup2(&actions, handed, HandedFd);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The program's end of the pipe: reads with limits on silence, on the bytes a read may send and
// on the time it may take, and ends the reading process whatever happens. A reader that
// streams without end is stopped as one that falls silent is.
class TChild {
public:
    TChild(pid_t pid, int fd, std::uint64_t maxBytes)
        : FPid(pid), FFd(fd), FSilenceMs(IsolatedReadTimeout() * 1000), FMaxBytes(maxBytes),
          FDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(IsolatedReadTimeLimit()))
    {
    }
    ~TChild() { Finish(true); }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    std::size_t Read(char* p, std::size_t n)
    {
        for (;;) {
            if (std::chrono::steady_clock::now() >= FDeadline)
                throw ERecordsTooLarge(Format(Tr("reading it took longer than %1$s seconds, the most one read may "
                                                 "take (ten times QUORLIN_READ_TIMEOUT)"),
                                              IsolatedReadTimeLimit()));
            pollfd fd{FFd, POLLIN, 0};
            const int wait = WaitMs();
            const int ready = ::poll(&fd, 1, wait);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0 && wait < FSilenceMs) continue;  // the read's time is up, or nearly
            if (ready <= 0) throw EWireError();                // silent too long: taken to hang
            const ssize_t got = ::read(FFd, p, n);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return 0;
            FBytes += static_cast<std::uint64_t>(got);
            if (FBytes > FMaxBytes)
                throw ERecordsTooLarge(Format(Tr("the reading process sent more than %1$s, more than its records "
                                                 "may take"),
                                              MemoryText(FMaxBytes)));
            return static_cast<std::size_t>(got);
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
    // Until the silence ends or the whole read's time is up, whichever comes first.
    int WaitMs() const
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(FDeadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, FSilenceMs));
    }

    pid_t FPid;
    int FFd;
    int FSilenceMs;
    std::uint64_t FMaxBytes;
    std::uint64_t FBytes = 0;
    std::chrono::steady_clock::time_point FDeadline;
    bool FClean = false;
};

}  // namespace

int IsolatedReadTimeout() { return PositiveSetting("QUORLIN_READ_TIMEOUT", 30); }

int IsolatedReadTimeLimit() { return 10 * IsolatedReadTimeout(); }

std::uint64_t IsolatedReadByteLimit()
{
    // A record's cells take no fewer bytes in memory than on the stream, but for an empty cell
    // (one byte sent, nine kept) and the record's mark: twice the records' limit is room enough.
    return 2 * RecordMemoryLimit() + (std::uint64_t{1} << 20);
}

std::string ProgramBeside(const std::string& name, const std::string& buildPath)
{
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::filesystem::path beside =
            std::filesystem::path(std::string(self, static_cast<std::size_t>(n))).parent_path() / name;
        if (::access(beside.c_str(), X_OK) == 0) return beside.string();
    }
    return buildPath;
}

void RunReader(const std::vector<std::string>& request, const std::function<void(TWireReader&)>& consume,
               const std::string& failureMessage, const std::function<std::string(const std::string&)>& tooLarge)
{
    RunConfined({ReaderProgram(), request, -1, -1, {}}, consume, failureMessage, tooLarge);
}

void RunConfined(const TConfinedRun& run, const std::function<void(TWireReader&)>& consume,
                 const std::string& failureMessage, const std::function<std::string(const std::string&)>& tooLarge)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw EProviderError(failureMessage);
    // With the default pipe of 64 KB the reading process stops at every few records until this
    // one has taken them, and the two run in lockstep rather than side by side; a big table
    // then reads a third slower. A pipe that may not grow (a user's pipe memory is capped)
    // still works, only slower.
    ::fcntl(fds[1], F_SETPIPE_SZ, PipeBytes);
    const pid_t pid = StartConfined(run, fds[1]);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        throw EProviderError(Format(Tr("%1$s (the reading program %2$s cannot be started)"), failureMessage, run.Program));
    }
    TChild child(pid, fds[0], IsolatedReadByteLimit());
    TWireReader reader([&](char* p, std::size_t n) { return child.Read(p, n); });
    try {
        const auto mark = static_cast<TWireMark>(reader.U8());
        if (mark == TWireMark::Failure) throw EProviderError(reader.Str());
        if (mark != TWireMark::Start) throw EWireError();
        consume(reader);
        // Everything arrived; the reading process must also have ended well for it to count.
        char extra;
        if (child.Read(&extra, 1) != 0) throw EWireError();
    } catch (const EWireError&) {
        child.Finish(true);
        throw EProviderError(failureMessage);
    } catch (const ERecordsTooLarge& e) {
        child.Finish(true);
        throw EProviderError(tooLarge ? tooLarge(e.what()) : failureMessage + ": " + e.what());
    }
    if (!child.Finish(false)) throw EProviderError(failureMessage);
}

TTableData ReadRecordsIsolated(const std::string& path, const std::string& name, bool view)
{
    TTableData data;
    RunReader(
        {view ? "view" : "table", path, name}, [&](TWireReader& r) { data = ReadTableStream(r); },
        Format(Tr("The table '%1$s' cannot be read: the database file '%2$s' is damaged"), name, path),
        [&](const std::string& why) { return TooLargeToOpen(view, name, why); });
    return data;
}

std::vector<TCatalogObject> ReadCatalogIsolated(const std::string& path)
{
    std::vector<TCatalogObject> catalog;
    RunReader(
        {"catalog", path}, [&](TWireReader& r) { catalog = ReadCatalog(r); },
        Format(Tr("The database file '%1$s' is damaged or is not an Access database"), path));
    return catalog;
}

}  // namespace quorlin
