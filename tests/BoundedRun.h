#pragma once
// Running a program as a child with a ceiling on its address space, as a machine with little
// memory would run it, and measuring what it took: the wall time and the peak resident memory
// of the child and of the processes it waited for (its reading process). A child still running
// after the guard's time is killed, so that a regression fails the test instead of hanging it.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestFiles.h"

extern char** environ;

namespace quorlin::testing {

// A sanitized program reserves terabytes of address space for its shadow memory and keeps
// freed memory back for a while, and runs several times slower: there no ceiling is set on its
// address space, its peak memory says nothing of the program's, and time guards are widened.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SanitizedBuild = true;
#else
constexpr bool SanitizedBuild = false;
#endif
#else
constexpr bool SanitizedBuild = false;
#endif
constexpr double GuardScale = SanitizedBuild ? 5.0 : 1.0;

struct TBoundedRun {
    bool Exited = false;  // by itself, not killed by a signal or by the guard
    int Status = -1;
    bool TimedOut = false;
    double Seconds = 0;
    std::int64_t PeakKiB = 0;  // the largest resident set among the child and its children
    std::string Out;
    std::string Err;
};

inline std::string Describe(const TBoundedRun& r)
{
    return (r.TimedOut ? std::string("killed after the guard's time") : r.Exited ? "status " + std::to_string(r.Status) : "killed by a signal") +
           ", " + std::to_string(r.Seconds) + " s, peak " + std::to_string(r.PeakKiB / 1024) + " MiB; stderr: " + r.Err;
}

// Runs args (the program first) with RLIMIT_AS at addressSpace bytes (but in a sanitized
// build), the environment's variables extended by extraEnvironment ("NAME=value"), output kept
// in folder.
inline TBoundedRun RunBounded(const std::vector<std::string>& args, std::uint64_t addressSpace, const TempFolder& folder,
                              const std::vector<std::string>& extraEnvironment = {}, int guardSeconds = 120)
{
    const std::string out = (folder / "bounded.out").string(), err = (folder / "bounded.err").string();
    std::vector<std::string> words = args;
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = extraEnvironment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{addressSpace, addressSpace};
        if (!SanitizedBuild) ::setrlimit(RLIMIT_AS, &limit);
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    TBoundedRun run;
    if (pid < 0) return run;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(guardSeconds)) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            run.TimedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.Exited = !run.TimedOut && WIFEXITED(status);
    run.Status = run.Exited ? WEXITSTATUS(status) : -1;
    run.PeakKiB = usage.ru_maxrss;
    run.Out = ReadBytes(out);
    run.Err = ReadBytes(err);
    return run;
}

}  // namespace quorlin::testing
