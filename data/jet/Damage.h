#pragma once
// What is wrong with a damaged file, in words a user can act on. The reader says which table
// it was reading; the writer refuses to change the file.

#include <stdexcept>
#include <string>

namespace quorlin::jet {

class EDamaged : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Damaged(const std::string& what) { throw EDamaged(what); }

}  // namespace quorlin::jet
