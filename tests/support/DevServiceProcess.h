#pragma once

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace quaylet::testing {

// quaylet-devservice running as a child process on a port the system chose, serving the
// builds in buildsFolder; stopped (SIGTERM) when the object goes. extraArguments are added
// to its command line, such as {"--token", "t"} or {"--no-sign-in"}.
class DevServiceProcess {
  public:
    explicit DevServiceProcess(const std::filesystem::path& buildsFolder,
                               const std::vector<std::string>& extraArguments = {}) {
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
    ~DevServiceProcess() {
        kill(process_, SIGTERM);
        ChildProcess::wait(process_);
    }
    DevServiceProcess(const DevServiceProcess&) = delete;
    DevServiceProcess& operator=(const DevServiceProcess&) = delete;

    // The quaylet-devservice program of this build.
    static std::string program() { return QUAYLET_DEVSERVICE_PROGRAM; }

    pid_t pid() const { return process_; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

  private:
    pid_t process_ = -1;
    int port_ = 0;
};

}  // namespace quaylet::testing
