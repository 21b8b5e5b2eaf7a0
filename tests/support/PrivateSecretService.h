#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "support/ScopedEnvironment.h"

namespace quaylet::testing {

// A throwaway Secret Service: a fresh gnome-keyring, whose default "login" collection is
// unlocked, on a private D-Bus session (scripts/with-private-keyring.sh holds it open until
// the object goes). While the object lives, this process's DBUS_SESSION_BUS_ADDRESS names the
// private bus, so code in this process and the child processes it starts use that keyring and
// never the user's own.
//
// GLib keeps the first session bus connection a process makes for the whole process, so
// store calls made in the test process itself would all go to the first service it met.
// Run the code that talks to the store in a child process (as CredentialStoreTest does).
class PrivateSecretService {
  public:
    // Waits until the keyring answers; throws std::runtime_error when it cannot start.
    PrivateSecretService();
    ~PrivateSecretService();
    PrivateSecretService(const PrivateSecretService&) = delete;
    PrivateSecretService& operator=(const PrivateSecretService&) = delete;

    const std::string& busAddress() const { return busAddress_; }

    // Locks the default collection, as a login keyring is locked after the user locks the
    // screen. Nothing in this session can unlock it again without a prompt.
    void lockDefaultCollection() const;

  private:
    pid_t sessionProcess_ = -1;
    int sessionInput_ = -1;   // the session lasts until this end of its standard input closes
    int sessionOutput_ = -1;  // its first line is the bus address
    std::string busAddress_;
    std::optional<ScopedEnvironment> busVariable_;
};

}  // namespace quaylet::testing
