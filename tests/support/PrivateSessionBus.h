#pragma once

#include <sys/types.h>

#include <optional>

#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// A D-Bus session bus of the test program's own, with no services until a test puts one
// there. While the object lives, DBUS_SESSION_BUS_ADDRESS names it, so what the program asks
// of the session bus (the desktop portal, notifications) never reaches the person's own.
class PrivateSessionBus {
  public:
    // Throws std::runtime_error when the bus does not start.
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  private:
    TemporaryDirectory folder_;
    pid_t daemon_ = -1;
    std::optional<ScopedEnvironment> busVariable_;
};

}  // namespace quaylet::testing
