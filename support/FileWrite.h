#pragma once
// Replacing a file whole, never half: the new contents go to a temporary file in the same
// folder, reach the disk, and only then take the file's name.

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <span>
#include <string_view>

#include "support/FileDescriptor.h"

namespace quorlin {

class EFileWriteError : public std::runtime_error {
public:
    EFileWriteError(const std::string& message, int error) : std::runtime_error(message), FError(error) {}
    int Error() const noexcept { return FError; }

private:
    int FError;
};

// The file that ReplaceFileContents replaces for path: path itself, or the file a link there
// points to, so that the link stays. A link to nothing is replaced itself.
std::filesystem::path FileToReplace(const std::string& path);

// What stands at the name a file is written to, looked at once: the folder is held open and
// the name is never followed again, so that the file judged is the file replaced, or nothing
// is written.
struct TTargetFile {
    std::string Path;            // FileToReplace of the path given
    TFd Folder;                  // the folder Path is in
    std::string Name;            // Path's last component
    bool Exists = false;
    struct stat Status {};       // of the name itself, a link not followed
    TFd Contents;                // a regular file, open for reading where this user may read it
};

// Raises EFileWriteError when the folder cannot be opened or the name changes while it is
// looked at (a regular file swapped for another, or for a link, between the look and the open).
TTargetFile LookAtTarget(const std::string& path);

// Writes bytes as the file at path. On failure, raises EFileWriteError whose text is the
// system's reason (such as "Permission denied"); an existing file is then left untouched and
// no temporary file remains. A file that is replaced keeps its permissions, its owner and its
// group (EPERM when they cannot be kept); a read-only file is refused even where the user could
// override its permissions.
// step, when given, is called after each stage ("temporary", "written", "synced", "renamed");
// tests throw from it to stop the write there.
void ReplaceFileContents(const std::string& path, std::string_view bytes,
                         const std::function<void(std::string_view stage)>& step = {});

// What a writer that holds its file between changes needs besides.
struct TReplaceOptions {
    std::function<void(std::string_view stage)> Step;
    // Called with the new file, complete and synced, just before it takes the name; a writer
    // locks it here so that it holds whatever file is at the path without a gap. Throwing from
    // it stops the replacement, and the file stays as it was.
    std::function<void(int fd)> BeforeRename;
    // Called with what stands at the name before anything is written; throws to refuse it. The
    // new contents take the name only while the name still holds the file judged: a file or a
    // link another program puts there meanwhile makes the write fail (EFileWriteError, the
    // text saying so), and is left as that program left it.
    std::function<void(const TTargetFile&)> Judge;
};
void ReplaceFileContents(const std::string& path, std::string_view bytes, const TReplaceOptions& options);
// The same, with the new contents in pieces written one after another: a large file that
// differs from one at hand in a few places need not be put together in memory first.
void ReplaceFileContents(const std::string& path, std::span<const std::string_view> pieces,
                         const TReplaceOptions& options);

// The temporary files ReplaceFileContents makes for path begin with this.
std::string TemporaryFilePrefix(const std::string& path);

}  // namespace quorlin
