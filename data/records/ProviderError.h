#pragma once
// Errors of our database provider: the stand-in for what the database engine raises when a
// file cannot be opened or a statement is rejected.

#include <stdexcept>

namespace quorlin {

class EProviderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorlin
