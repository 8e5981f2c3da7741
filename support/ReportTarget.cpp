#include "support/ReportTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "support/AsciiText.h"
#include "support/FileWrite.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

// The first page of a Jet (Access 97 to 2003) or ACE (Access 2007 and later) database begins
// with a zero byte and names its engine from byte 4 on.
constexpr std::size_t SignatureOffset = 4;
constexpr std::string_view JetSignature = "Standard Jet DB";
constexpr std::string_view AceSignature = "Standard ACE DB";
constexpr std::size_t SignatureEnd = SignatureOffset + JetSignature.size();

[[noreturn]] void Refuse(const std::string& path, const std::string& reason)
{
    throw EReportTargetRefused(Format(Tr("The report cannot be written to '%1$s': %2$s"), path, reason));
}

std::string KindOf(mode_t mode)
{
    if (S_ISFIFO(mode)) return Tr("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return Tr("a device");
    if (S_ISDIR(mode)) return Tr("a folder");
    if (S_ISSOCK(mode)) return Tr("a socket");
    return Tr("an unknown kind of file");
}

std::string FirstBytes(int fd, std::size_t count)
{
    std::string bytes(count, '\0');
    ssize_t n = -1;
    do n = ::pread(fd, bytes.data(), count, 0);
    while (n < 0 && errno == EINTR);
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
}

bool SameFile(const struct stat& a, const std::string& otherPath)
{
    struct stat b {};
    return !otherPath.empty() && ::stat(otherPath.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool HasAccessExtension(const std::string& path)
{
    const std::string ext = LowerAscii(std::filesystem::path(path).extension().string());
    return ext == ".mdb" || ext == ".accdb" || ext == ".mde" || ext == ".accde";
}

bool HasAccessSignature(std::string_view firstBytes)
{
    if (firstBytes.size() < SignatureEnd || firstBytes[0] != '\0') return false;
    const std::string_view name = firstBytes.substr(SignatureOffset, JetSignature.size());
    return name == JetSignature || name == AceSignature;
}

void JudgeReportTarget(const std::string& path, const TTargetFile& target, const std::string& sourcePath)
{
    const mode_t mode = target.Status.st_mode;
    // A link to nothing is replaced itself, by its own name; whatever it may point to later.
    if (target.Exists && !S_ISREG(mode) && !S_ISLNK(mode)) Refuse(path, Format(Tr("it is not a regular file (%1$s)"), KindOf(mode)));
    if (target.Exists && S_ISREG(mode) && SameFile(target.Status, sourcePath)) Refuse(path, Tr("it is the source being read"));
    // A file that cannot be read is judged by its name alone.
    if (HasAccessExtension(target.Path) ||
        (target.Contents.Get() >= 0 && HasAccessSignature(FirstBytes(target.Contents.Get(), SignatureEnd))))
        Refuse(path, Tr("it is an Access database"));
}

void CheckReportTarget(const std::string& path, const std::string& sourcePath)
{
    std::optional<TTargetFile> target;
    try {
        target.emplace(LookAtTarget(path));
    } catch (const EFileWriteError&) {
        // Its state cannot be found out here (no permission to look, a loop of links): the write
        // itself will say what is wrong.
        if (HasAccessExtension(FileToReplace(path).string())) Refuse(path, Tr("it is an Access database"));
        return;
    }
    JudgeReportTarget(path, *target, sourcePath);
}

std::function<void(const TTargetFile&)> ReportTargetJudge(const std::string& path, const std::string& sourcePath)
{
    return [path, sourcePath](const TTargetFile& target) { JudgeReportTarget(path, target, sourcePath); };
}

}  // namespace quorlin
