#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "core/process/ProcessRunner.h"
#include "support/ChildProcess.h"
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
    PrivateSecretService() {
        const auto [inputRead, inputWrite] = ChildProcess::pipe();
        const auto [outputRead, outputWrite] = ChildProcess::pipe();
        // The command inside the session reports the bus and then waits for its input to end.
        sessionProcess_ = ChildProcess::start(
            {QUAYLET_SOURCE_DIR "/scripts/with-private-keyring.sh", "/bin/sh", "-c",
             "printf '%s\\n' \"$DBUS_SESSION_BUS_ADDRESS\" && exec cat >/dev/null"},
            inputRead, outputWrite);
        close(inputRead);
        close(outputWrite);
        sessionInput_ = inputWrite;
        sessionOutput_ = outputRead;

        busAddress_ = ChildProcess::readLine(sessionOutput_);
        if (busAddress_.empty()) {
            close(sessionInput_);
            close(sessionOutput_);
            ChildProcess::wait(sessionProcess_);
            throw std::runtime_error("the private Secret Service did not start (see its messages)");
        }
        busVariable_.emplace("DBUS_SESSION_BUS_ADDRESS", busAddress_);
    }
    ~PrivateSecretService() {
        busVariable_.reset();
        close(sessionInput_);
        ChildProcess::wait(sessionProcess_);
        close(sessionOutput_);
    }
    PrivateSecretService(const PrivateSecretService&) = delete;
    PrivateSecretService& operator=(const PrivateSecretService&) = delete;

    const std::string& busAddress() const { return busAddress_; }

    // Locks the default collection, as a login keyring is locked after the user locks the
    // screen. Nothing in this session can unlock it again without a prompt.
    void lockDefaultCollection() const {
        ProcessRunner().runChecked(
            ToolCommand{
                "/usr/bin/gdbus",
                {"call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                 "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.Lock",
                 "['/org/freedesktop/secrets/collection/login']"}},
            std::stop_token());
    }

  private:
    pid_t sessionProcess_ = -1;
    int sessionInput_ = -1;   // the session lasts until this end of its standard input closes
    int sessionOutput_ = -1;  // its first line is the bus address
    std::string busAddress_;
    std::optional<ScopedEnvironment> busVariable_;
};

}  // namespace quaylet::testing
