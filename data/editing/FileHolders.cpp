#include "data/editing/FileHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/Messages.h"
#include "data/records/ProviderError.h"

namespace quorlin {

namespace {

struct TDirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using TDir = std::unique_ptr<DIR, TDirCloser>;

bool IsNumber(const char* name)
{
    if (!*name) return false;
    for (; *name; ++name)
        if (!std::isdigit(static_cast<unsigned char>(*name))) return false;
    return true;
}

std::string ProcFile(pid_t pid, const std::string& what)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + what);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string NameOf(pid_t pid)
{
    std::string name = ProcFile(pid, "comm");
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    return name.empty() ? "?" : name;
}

// The descriptor's open flags, from /proc's "flags:" line (octal).
bool OpenForWriting(pid_t pid, const char* fd)
{
    std::istringstream info(ProcFile(pid, std::string("fdinfo/") + fd));
    for (std::string line; std::getline(info, line);)
        if (line.rfind("flags:", 0) == 0) {
            const long flags = std::strtol(line.c_str() + 6, nullptr, 8);
            return (flags & O_ACCMODE) != O_RDONLY;
        }
    return false;
}

bool HoldsForWriting(pid_t pid, const struct stat& file)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    const TDir fds(::opendir(folder.c_str()));
    if (!fds) return false;  // another user's process, or gone
    while (const dirent* entry = ::readdir(fds.get())) {
        if (!IsNumber(entry->d_name)) continue;
        struct stat held {};
        if (::stat((folder + "/" + entry->d_name).c_str(), &held) != 0) continue;
        if (held.st_dev == file.st_dev && held.st_ino == file.st_ino && OpenForWriting(pid, entry->d_name)) return true;
    }
    return false;
}

}  // namespace

std::vector<TFileHolder> WritersHolding(int fd)
{
    std::vector<TFileHolder> holders;
    struct stat file {};
    if (::fstat(fd, &file) != 0) return holders;
    const TDir processes(::opendir("/proc"));
    if (!processes) return holders;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(processes.get())) {
        if (!IsNumber(entry->d_name)) continue;
        const auto pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid == self) continue;
        if (HoldsForWriting(pid, file)) holders.push_back({pid, NameOf(pid)});
    }
    return holders;
}

std::string HeldOpenText(const std::string& path, const std::vector<TFileHolder>& holders)
{
    std::string programs;
    for (const TFileHolder& h : holders)
        programs += (programs.empty() ? "" : "; ") + Format(Tr("%1$s, pid %2$s"), h.Name, h.Pid);
    return Format(Tr("The database '%1$s' is open in another program (%2$s); close it and try again."), path, programs);
}

void RefuseWhileWritersHold(const std::string& path, int fd)
{
    const std::vector<TFileHolder> holders = WritersHolding(fd);
    if (!holders.empty()) throw EProviderError(HeldOpenText(path, holders));
}

bool AwaitWritersClosing(int fd, std::chrono::milliseconds wait)
{
    constexpr auto Pause = std::chrono::milliseconds(5);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!WritersHolding(fd).empty()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(Pause);
    }
    return true;
}

}  // namespace quorlin
