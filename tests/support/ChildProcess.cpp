#include "support/ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace quaylet::testing {

pid_t ChildProcess::start(const std::vector<std::string>& arguments, int standardInput,
                          int standardOutput, int standardError) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (standardInput >= 0) {
        posix_spawn_file_actions_adddup2(&actions, standardInput, STDIN_FILENO);
    }
    if (standardOutput >= 0) {
        posix_spawn_file_actions_adddup2(&actions, standardOutput, STDOUT_FILENO);
    }
    if (standardError >= 0) {
        posix_spawn_file_actions_adddup2(&actions, standardError, STDERR_FILENO);
    }
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::system_error(error, std::generic_category(), "posix_spawn " + arguments[0]);
    }
    return pid;
}

int ChildProcess::wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
    }
    return status;
}

std::pair<int, int> ChildProcess::pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    return {ends[0], ends[1]};
}

std::string ChildProcess::readLine(int descriptor) {
    std::string line;
    char character = 0;
    while (::read(descriptor, &character, 1) == 1 && character != '\n') {
        line += character;
    }
    return line;
}

}  // namespace quaylet::testing
