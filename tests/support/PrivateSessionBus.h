#pragma once

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/ChildProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// A D-Bus session bus of the test program's own, with no services until a test puts one
// there. While the object lives, DBUS_SESSION_BUS_ADDRESS names it, so what the program asks
// of the session bus (the desktop portal, notifications) never reaches the person's own.
class PrivateSessionBus {
  public:
    // Throws std::runtime_error when the bus does not start.
    PrivateSessionBus() {
        // No service folders: nothing on the bus is started on demand, the desktop's portal
        // included.
        const auto configuration = folder_.path() / "bus.conf";
        std::ofstream(configuration) << R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" << folder_.path().string()
                                     << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
        const auto [addressRead, addressWrite] = ChildProcess::pipe();
        daemon_ = ChildProcess::start({"dbus-daemon", "--config-file=" + configuration.string(),
                                       "--nofork", "--nopidfile", "--print-address"},
                                      -1, addressWrite);
        close(addressWrite);
        const std::string address = ChildProcess::readLine(addressRead);
        close(addressRead);
        if (address.empty()) {
            ChildProcess::wait(daemon_);
            throw std::runtime_error("the private session bus did not start (see its messages)");
        }
        busVariable_.emplace("DBUS_SESSION_BUS_ADDRESS", address);
    }
    ~PrivateSessionBus() {
        busVariable_.reset();
        ::kill(daemon_, SIGTERM);
        ChildProcess::wait(daemon_);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  private:
    TemporaryDirectory folder_;
    pid_t daemon_ = -1;
    std::optional<ScopedEnvironment> busVariable_;
};

}  // namespace quaylet::testing
