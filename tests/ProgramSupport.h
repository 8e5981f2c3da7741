#pragma once
// Running the program's executables as a script would: each argument passed as it is, input
// from /dev/null, output to files (or discarded).

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace quorlin::testing {

// The started process, or -1 (errno then says why); its environment is this one's, or the
// variables given ("NAME=value").
inline pid_t StartProgramIn(const std::vector<std::string>* environment, std::vector<std::string> args,
                            const std::string& outPath = {}, const std::string& errPath = {})
{
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.empty() ? "/dev/null" : outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.empty() ? "/dev/null" : errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> variables = environment ? *environment : std::vector<std::string>{};
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        errno = spawned;
        return -1;
    }
    return pid;
}

inline pid_t StartProgram(std::vector<std::string> args, const std::string& outPath = {}, const std::string& errPath = {})
{
    return StartProgramIn(nullptr, std::move(args), outPath, errPath);
}

// The raw wait status of a started process.
inline int WaitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

inline int ExitStatus(pid_t pid)
{
    const int status = WaitFor(pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quorlin::testing
