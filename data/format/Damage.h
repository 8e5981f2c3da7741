#pragma once
// What is wrong with a damaged file, in words a user can act on. The reader says which table
// it was reading; the writer refuses to change the file.
//
// A change the writer cannot make to a sound file (a value that does not fit, a table it cannot
// keep consistent) is an ERefused, whose text is meant for the user as it stands.

#include <stdexcept>
#include <string>

namespace quorlin::jet {

class EDamaged : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Damaged(const std::string& what) { throw EDamaged(what); }

class ERefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Refused(const std::string& why) { throw ERefused(why); }

// The file cannot be opened, or is no Access database at all; the text says which.
class EUnreadable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorlin::jet
