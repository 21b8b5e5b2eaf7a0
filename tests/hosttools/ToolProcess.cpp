#include "hosttools/ToolProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

extern char** environ;

namespace quaylet::testing {
namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), {}};
}

}  // namespace

std::filesystem::path hostToolPath(const std::string& tool) {
    return std::filesystem::path(QUAYLET_HOST_TOOLS_BUILD_DIR) / tool;
}

ToolProcess::ToolProcess(const std::string& tool, const std::vector<std::string>& arguments,
                         const std::filesystem::path& simulatorHome) {
    const std::string program = hostToolPath(tool).string();
    std::vector<std::string> environment{"QUAYLET_SIMULATOR_HOME=" + simulatorHome.string()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "QUAYLET_SIMULATOR_HOME=", 23) != 0) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const std::string out = (output_.path() / "stdout").string();
    const std::string err = (output_.path() / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int error =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::system_error(error, std::generic_category(), "posix_spawn " + program);
    }
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        int ignored = 0;  // a test that never waited has failed already; just reap the child
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &ignored, 0);
    }
}

ToolResult ToolProcess::wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
    }
    pid_ = -1;
    return {readFile(output_.path() / "stdout"), readFile(output_.path() / "stderr"),
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

ToolResult runTool(const std::string& tool, const std::vector<std::string>& arguments,
                   const std::filesystem::path& simulatorHome) {
    return ToolProcess(tool, arguments, simulatorHome).wait();
}

}  // namespace quaylet::testing
