#pragma once
// The batch command run in this process, as a script would call it, with what it printed.

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "batch/BatchCommand.h"

namespace quorlin::testing {

struct RunResult {
    int Status;
    std::string Out;
    std::string Err;
};

inline RunResult RunCommand(std::vector<std::string> args)
{
    args.insert(args.begin(), "quorlin-batch");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunBatch(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

}  // namespace quorlin::testing
