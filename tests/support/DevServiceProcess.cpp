#include "support/DevServiceProcess.h"

#include <signal.h>
#include <unistd.h>

#include <stdexcept>

#include "support/ChildProcess.h"

namespace quaylet::testing {

DevServiceProcess::DevServiceProcess(const std::filesystem::path& buildsFolder,
                                     const std::vector<std::string>& extraArguments) {
    const auto [output, outputWrite] = ChildProcess::pipe();
    std::vector<std::string> arguments = {program(), "--builds", buildsFolder.string()};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    process_ = ChildProcess::start(arguments, -1, outputWrite);
    close(outputWrite);

    // Its first line names the port; reading it also waits until the service listens.
    const std::string line = ChildProcess::readLine(output);
    close(output);
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
