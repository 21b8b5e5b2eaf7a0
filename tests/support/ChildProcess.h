#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

extern char** environ;

namespace quaylet::testing {

// Process control for test helpers whose child outlives one call (a service) or is fed and
// read by hand; a command run to its end goes through ProcessRunner instead. The first argument is
// a path or a name looked up in PATH; the child inherits this process's environment.
class ChildProcess {
  public:
    // Starts the child; a descriptor of -1 leaves that stream as this process's own.
    static pid_t start(const std::vector<std::string>& arguments, int standardInput = -1,
                       int standardOutput = -1, int standardError = -1) {
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const int streams[] = {standardInput, standardOutput, standardError};  // 0, 1 and 2
        for (int stream = 0; stream < 3; ++stream) {
            if (streams[stream] >= 0) {
                posix_spawn_file_actions_adddup2(&actions, streams[stream], stream);
            }
        }
        pid_t pid = -1;
        const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            throw std::system_error(error, std::generic_category(), "posix_spawn " + arguments[0]);
        }
        return pid;
    }

    // Waits for the child and returns its wait status.
    static int wait(pid_t pid) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "waitpid");
            }
        }
        return status;
    }

    // A pipe whose ends close on exec: {reading end, writing end}.
    static std::pair<int, int> pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe2");
        }
        return {ends[0], ends[1]};
    }

    // Reads up to the next newline (dropped) or the end of the stream.
    static std::string readLine(int descriptor) {
        std::string line;
        char character = 0;
        while (::read(descriptor, &character, 1) == 1 && character != '\n') {
            line += character;
        }
        return line;
    }
};

}  // namespace quaylet::testing
