#pragma once
// What the reading process may do once it has started: read the one database file, and write
// its result to the pipe it was given. It gains no privileges, opens nothing for writing,
// creates no file, opens no socket and starts no program.

#include <string>

namespace quorlin {

// What each mechanism achieved; a kernel without one leaves the others in force.
struct TConfinement {
    bool NoNewPrivileges = false;
    bool FileAccess = false;   // Landlock: only the database file (and the text converters) readable
    bool SystemCalls = false;  // seccomp: a list of the calls reading needs
};

// Confines the calling process for good; database is the open file it may go on reading, or -1
// for a process that has read all it needs and may open no file at all (but the text converters).
TConfinement Confine(int database);

}  // namespace quorlin
