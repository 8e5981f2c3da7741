#include "support/FileWrite.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "support/FileDescriptor.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

[[noreturn]] void Fail(int error) { throw EFileWriteError(std::strerror(error), error); }

// Another program put a file or a link at the name while this one wrote: its file stays, ours
// goes.
[[noreturn]] void FailChanged()
{
    throw EFileWriteError(Tr("another program replaced the file while it was being written; nothing was written"), EBUSY);
}

bool SameInode(const struct stat& a, const struct stat& b) noexcept { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The temporary file is removed again unless it has been renamed into place; after an exchange
// its name holds the file that was replaced, which goes with it.
class TTempFile {
public:
    TTempFile(int folder, std::string name) : FFolder(folder), FName(std::move(name)) {}
    ~TTempFile()
    {
        if (!FName.empty()) ::unlinkat(FFolder, FName.c_str(), 0);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const noexcept { return FName; }
    void Keep() noexcept { FName.clear(); }

private:
    int FFolder;
    std::string FName;
};

// The temporary files of a writer of name: hidden beside it, recognisable by their beginning.
std::string TemporaryNamePrefix(const std::string& name) { return "." + name + ".tmp-"; }

bool HasWriteBit(mode_t mode) noexcept { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

TFd OpenFolder(const std::filesystem::path& folder)
{
    // Readable, so that the rename can be made durable; a folder that may only be searched is
    // still written into.
    TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0 && errno == EACCES) fd.Reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() < 0) Fail(errno);
    return fd;
}

// Refuses what may not be replaced by anyone: a folder, a file without write permission.
void CheckReplaceable(const TTargetFile& target)
{
    if (!target.Exists) return;
    if (S_ISDIR(target.Status.st_mode)) Fail(EISDIR);
    if (S_ISLNK(target.Status.st_mode)) return;  // a link to nothing: the link itself goes
    if (::faccessat(target.Folder.Get(), target.Name.c_str(), W_OK, 0) != 0 || !HasWriteBit(target.Status.st_mode))
        Fail(EACCES);
}

TFd CreateTemporary(const TTargetFile& target, std::string& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
        name = TemporaryNamePrefix(target.Name) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        TFd fd(::openat(target.Folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.Get() >= 0) return fd;
        if (errno != EEXIST || attempt > 100) Fail(errno);
    }
}

void WriteAll(int fd, std::string_view bytes)
{
    errno = 0;
    if (!WriteWhole(fd, bytes.data(), bytes.size())) Fail(errno ? errno : EIO);
}

// The replaced file's owner and permissions go to the new one. Owner first: changing it may
// clear the set-id bits that the mode then sets again.
void KeepOwnerAndMode(int fd, const TTargetFile& target)
{
    if (!target.Exists || !S_ISREG(target.Status.st_mode)) return;
    const struct stat& old = target.Status;
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0) Fail(errno);
    if (::fchmod(fd, old.st_mode & 07777) != 0) Fail(errno);
}

// Nothing stood at the name: the new file takes it only if nothing has come there since.
void PutInPlaceOfNothing(const TTargetFile& target, TTempFile& temp)
{
    const int folder = target.Folder.Get();
    if (::renameat2(folder, temp.Name().c_str(), folder, target.Name.c_str(), RENAME_NOREPLACE) == 0) {
        temp.Keep();
        return;
    }
    if (errno == EEXIST) FailChanged();
    if (errno != EINVAL && errno != ENOSYS) Fail(errno);
    // A file system without that rename: a hard link cannot replace anything either.
    if (::linkat(folder, temp.Name().c_str(), folder, target.Name.c_str(), 0) != 0) {
        if (errno == EEXIST) FailChanged();
        Fail(errno);
    }
}

// The new file and the judged one change places in one step; if what came out is not the file
// judged, another program had put something there, and the two change back.
void PutInPlaceOfJudged(const TTargetFile& target, TTempFile& temp)
{
    const int folder = target.Folder.Get();
    const char* tempName = temp.Name().c_str();
    const char* name = target.Name.c_str();
    struct stat displaced {};
    if (::renameat2(folder, tempName, folder, name, RENAME_EXCHANGE) == 0) {
        if (::fstatat(folder, tempName, &displaced, AT_SYMLINK_NOFOLLOW) == 0 && SameInode(displaced, target.Status)) return;
        if (::renameat2(folder, tempName, folder, name, RENAME_EXCHANGE) != 0) temp.Keep();  // never delete theirs
        FailChanged();
    }
    if (errno != EINVAL && errno != ENOSYS) Fail(errno);
    // A file system without the exchange: the name is looked at once more right before the rename.
    if (::fstatat(folder, name, &displaced, AT_SYMLINK_NOFOLLOW) != 0 || !SameInode(displaced, target.Status))
        FailChanged();
    if (::renameat(folder, tempName, folder, name) != 0) Fail(errno);
    temp.Keep();
}

}  // namespace

std::string TemporaryFilePrefix(const std::string& path)
{
    const std::filesystem::path target(path);
    return (target.parent_path() / TemporaryNamePrefix(target.filename().string())).string();
}

std::filesystem::path FileToReplace(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path) : resolved;
}

TTargetFile LookAtTarget(const std::string& path)
{
    namespace fs = std::filesystem;
    TTargetFile target;
    const fs::path resolved = FileToReplace(path);
    target.Path = resolved.string();
    target.Folder = OpenFolder(resolved.has_parent_path() ? resolved.parent_path() : fs::path("."));
    target.Name = resolved.filename().string();
    if (::fstatat(target.Folder.Get(), target.Name.c_str(), &target.Status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) Fail(errno);
        return target;
    }
    target.Exists = true;
    // Only a regular file is opened: a FIFO would block, a device might act.
    if (!S_ISREG(target.Status.st_mode)) return target;
    target.Contents.Reset(::openat(target.Folder.Get(), target.Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (target.Contents.Get() < 0) {
        if (errno == EACCES) return target;  // judged by its name and kind alone
        if (errno == ELOOP || errno == ENOENT) FailChanged();
        Fail(errno);
    }
    if (::fstat(target.Contents.Get(), &opened) != 0) Fail(errno);
    if (!SameInode(opened, target.Status)) FailChanged();
    return target;
}

void ReplaceFileContents(const std::string& path, std::string_view bytes,
                         const std::function<void(std::string_view stage)>& step)
{
    ReplaceFileContents(path, bytes, TReplaceOptions{step, {}, {}});
}

void ReplaceFileContents(const std::string& path, std::string_view bytes, const TReplaceOptions& options)
{
    ReplaceFileContents(path, std::span<const std::string_view>(&bytes, 1), options);
}

void ReplaceFileContents(const std::string& path, std::span<const std::string_view> pieces,
                         const TReplaceOptions& options)
{
    auto reached = [&](std::string_view stage) {
        if (options.Step) options.Step(stage);
    };
    const TTargetFile target = LookAtTarget(path);
    if (options.Judge) options.Judge(target);
    CheckReplaceable(target);

    std::string tempName;
    TFd fd = CreateTemporary(target, tempName);
    TTempFile temp(target.Folder.Get(), tempName);
    reached("temporary");
    for (std::string_view piece : pieces) WriteAll(fd.Get(), piece);
    reached("written");
    KeepOwnerAndMode(fd.Get(), target);
    if (::fsync(fd.Get()) != 0) Fail(errno);
    reached("synced");
    if (options.BeforeRename) options.BeforeRename(fd.Get());
    if (fd.Close() != 0) Fail(errno);
    if (target.Exists)
        PutInPlaceOfJudged(target, temp);
    else
        PutInPlaceOfNothing(target, temp);
    reached("renamed");

    // Make the rename itself durable; the new contents are already in place either way.
    ::fsync(target.Folder.Get());
}

}  // namespace quorlin
