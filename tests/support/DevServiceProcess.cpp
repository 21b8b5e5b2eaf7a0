#include "support/DevServiceProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "support/ChildProcess.h"

namespace quaylet::testing {

DevServiceProcess::DevServiceProcess(const std::filesystem::path& buildsFolder,
                                     const std::vector<std::string>& extraArguments) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    std::vector<std::string> arguments = {program(), "--builds", buildsFolder.string()};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    process_ = ChildProcess::start(arguments, -1, ends[1]);
    close(ends[1]);

    // Its first line names the port; reading it also waits until the service listens.
    std::string line;
    char character = 0;
    while (read(ends[0], &character, 1) == 1 && character != '\n') {
        line += character;
    }
    close(ends[0]);
    const std::string prefix = "Listening on http://127.0.0.1:";
    if (!line.starts_with(prefix)) {
        kill(process_, SIGTERM);
        ChildProcess::wait(process_);
        throw std::runtime_error("quaylet-devservice did not start: " + line);
    }
    port_ = std::stoi(line.substr(prefix.size()));
}

DevServiceProcess::~DevServiceProcess() {
    kill(process_, SIGTERM);
    ChildProcess::wait(process_);
}

std::string DevServiceProcess::program() {
    return QUAYLET_DEVSERVICE_PROGRAM;
}

std::string DevServiceProcess::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace quaylet::testing
