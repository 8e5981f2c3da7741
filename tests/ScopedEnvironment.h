#pragma once
// An environment variable set for one test, and put back as it was afterwards. The reading
// processes this process starts inherit it.

#include <cstdlib>
#include <optional>
#include <string>

namespace quorlin::testing {

class TScopedEnvironment {
public:
    TScopedEnvironment(std::string name, const std::string& value) : FName(std::move(name))
    {
        if (const char* before = std::getenv(FName.c_str())) FBefore = before;
        ::setenv(FName.c_str(), value.c_str(), 1);
    }
    ~TScopedEnvironment()
    {
        if (FBefore)
            ::setenv(FName.c_str(), FBefore->c_str(), 1);
        else
            ::unsetenv(FName.c_str());
    }
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

private:
    std::string FName;
    std::optional<std::string> FBefore;
};

}  // namespace quorlin::testing
