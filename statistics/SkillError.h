#pragma once
// Failures of the skill figures: a request that cannot be met (a bad number of records to
// leave out, an interval without degrees of freedom), and a computation abandoned on request.

#include <stdexcept>

namespace quorlin {

class ESkillError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ESkillCancelled : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorlin
