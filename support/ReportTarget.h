#pragma once
// Which files a report may replace. A report is written over whatever name the user gives; a
// slip of the hand must not turn the database being read, or any other database, into a page of
// text, nor put a regular file where a FIFO or a device was.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorlin {

class EReportTargetRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raises EReportTargetRefused, naming path and the reason, unless path may take a report: it
// must not be an Access database (by its extension, whether or not it exists yet, or by its
// first page), nor the file sourcePath names (under any spelling or link), nor exist as anything
// but a regular file. A link is judged by the file it points to, since that file is the one the
// report replaces and the link stays; a link to nothing, replaced itself, by its own name.
// Nothing is opened that is not a regular file, so a FIFO never blocks. A path whose state
// cannot be found out (no permission to look, a loop of links) passes, so that the write itself
// says what is wrong. sourcePath may be empty.
// This is a first look, to refuse before anything is computed; the write judges the file again,
// once, as it opens it (ReportTargetJudge), since another program may change the name between.
void CheckReportTarget(const std::string& path, const std::string& sourcePath);

struct TTargetFile;
// The same judgement for ReplaceFileContents (TReplaceOptions::Judge), made on what the write
// has opened and will replace.
std::function<void(const TTargetFile&)> ReportTargetJudge(const std::string& path, const std::string& sourcePath);

// Whether a file name ends in one of the extensions of Access databases, any letter case.
bool HasAccessExtension(const std::string& path);

// Whether bytes, the beginning of a file, are the first page of an Access database.
bool HasAccessSignature(std::string_view firstBytes);

}  // namespace quorlin
