#include "ReportTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

#include "AsciiText.h"
#include "FileWrite.h"
#include "Messages.h"

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

// The file was seen to be regular, but another program may have put something else there since:
// the open must not wait for a FIFO's writer, and what was opened is looked at again.
std::string FirstBytes(const std::string& path, std::size_t count)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string bytes(count, '\0');
    struct stat opened {};
    ssize_t n = -1;
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
        do n = ::pread(fd, bytes.data(), count, 0);
        while (n < 0 && errno == EINTR);
    }
    ::close(fd);
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

void CheckReportTarget(const std::string& path, const std::string& sourcePath)
{
    const std::string target = FileToReplace(path).string();
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) Refuse(path, Format(Tr("it is not a regular file (%1$s)"), KindOf(existing.st_mode)));
    if (exists && SameFile(existing, sourcePath)) Refuse(path, Tr("it is the source being read"));
    // A file that cannot be read passes here; only a regular file is opened at all.
    if (HasAccessExtension(target) || (exists && HasAccessSignature(FirstBytes(target, SignatureEnd))))
        Refuse(path, Tr("it is an Access database"));
}

}  // namespace quorlin
