#pragma once
// A whole number a variable of the environment may set (limits that tests and users move): the
// variable's value when it is a positive number, else the default.

#include <cstdlib>

namespace quorlin {

inline int PositiveSetting(const char* variable, int fallback)
{
    const char* text = std::getenv(variable);
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

}  // namespace quorlin
