#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quaylet::testing {

// quaylet-devservice running as a child process on a port the system chose, serving the
// builds in buildsFolder; stopped (SIGTERM) when the object goes. extraArguments are added
// to its command line, such as {"--token", "t"} or {"--no-sign-in"}.
class DevServiceProcess {
  public:
    explicit DevServiceProcess(const std::filesystem::path& buildsFolder,
                               const std::vector<std::string>& extraArguments = {});
    ~DevServiceProcess();
    DevServiceProcess(const DevServiceProcess&) = delete;
    DevServiceProcess& operator=(const DevServiceProcess&) = delete;

    // The quaylet-devservice program of this build.
    static std::string program();

    pid_t pid() const { return process_; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string baseURL() const;

  private:
    pid_t process_ = -1;
    int port_ = 0;
};

}  // namespace quaylet::testing
