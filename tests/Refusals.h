#pragma once
// The text of the refusal a write path raises, for tests that expect one.

#include <functional>
#include <string>

#include "data/records/ProviderError.h"

namespace quorlin::testing {

inline std::string RefusalOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EProviderError& e) {
        return e.what();
    }
    return "no refusal";
}

}  // namespace quorlin::testing
