#pragma once
// Which other programs hold a file open for writing, found as fuser finds them: through the
// open descriptors /proc shows of every process this user may look into. A program that edits
// the database in place without a lock keeps the old file open across a rename and writes into
// it after the new one took the name; its edit would be lost, so a change waits for none.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quorlin {

struct TFileHolder {
    pid_t Pid = 0;
    std::string Name;  // the program's name, as the process table shows it
};

// The processes other than this one that hold the file behind fd open with write access.
// Readers are left out (our own reading processes among them, and our writers waiting for
// their turn): they lose nothing when the file is replaced.
std::vector<TFileHolder> WritersHolding(int fd);

// "… is open in another program (NAME, pid N); close it and try again."
std::string HeldOpenText(const std::string& path, const std::vector<TFileHolder>& holders);

// Raises EProviderError with that text while other programs hold the file behind fd for writing.
void RefuseWhileWritersHold(const std::string& path, int fd);

// Waits (up to wait) until no other program holds the file behind fd for writing; false when
// one still does.
bool AwaitWritersClosing(int fd, std::chrono::milliseconds wait);

}  // namespace quorlin
