#include "FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "FileDescriptor.h"

namespace quorlin {

namespace {

[[noreturn]] void Fail(int error) { throw EFileWriteError(std::strerror(error), error); }

// The temporary file is removed again unless it has been renamed into place.
class TTempFile {
public:
    explicit TTempFile(std::string path) : FPath(std::move(path)) {}
    ~TTempFile()
    {
        if (!FPath.empty()) ::unlink(FPath.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Path() const noexcept { return FPath; }
    void Keep() noexcept { FPath.clear(); }

private:
    std::string FPath;
};

bool HasWriteBit(mode_t mode) noexcept { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

}  // namespace

std::string TemporaryFilePrefix(const std::string& path)
{
    const std::filesystem::path target(path);
    return (target.parent_path() / ("." + target.filename().string() + ".tmp-")).string();
}

std::filesystem::path FileToReplace(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path) : resolved;
}

void ReplaceFileContents(const std::string& path, std::string_view bytes,
                         const std::function<void(std::string_view stage)>& step)
{
    ReplaceFileContents(path, bytes, TReplaceOptions{step, {}});
}

void ReplaceFileContents(const std::string& path, std::string_view bytes, const TReplaceOptions& options)
{
    auto reached = [&](std::string_view stage) {
        if (options.Step) options.Step(stage);
    };
    namespace fs = std::filesystem;
    const fs::path target = FileToReplace(path);

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) Fail(EISDIR);
        if (::access(target.c_str(), W_OK) != 0 || !HasWriteBit(existing.st_mode)) Fail(EACCES);
    } else if (errno != ENOENT) {
        Fail(errno);
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    static std::atomic<unsigned> counter{0};
    TFd fd;
    std::string tempPath;
    for (int attempt = 0; fd.Get() < 0; ++attempt) {
        tempPath = TemporaryFilePrefix((folder / target.filename()).string()) + std::to_string(::getpid()) + "-" +
                   std::to_string(counter++);
        fd.Reset(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.Get() < 0 && (errno != EEXIST || attempt > 100)) Fail(errno);
    }
    TTempFile temp(tempPath);
    reached("temporary");

    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.Get(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    reached("written");
    // Owner first: changing it may clear the set-id bits that the mode then sets again.
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) &&
        ::fchown(fd.Get(), existing.st_uid, existing.st_gid) != 0)
        Fail(errno);
    if (exists && ::fchmod(fd.Get(), existing.st_mode & 07777) != 0) Fail(errno);
    if (::fsync(fd.Get()) != 0) Fail(errno);
    reached("synced");
    if (options.BeforeRename) options.BeforeRename(fd.Get());
    if (fd.Close() != 0) Fail(errno);
    if (::rename(temp.Path().c_str(), target.c_str()) != 0) Fail(errno);
    temp.Keep();
    reached("renamed");

    // Make the rename itself durable; the new contents are already in place either way.
    TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) ::fsync(dir.Get());
}

}  // namespace quorlin
