#include "support/PrivateSecretService.h"

#include <unistd.h>

#include <stdexcept>

#include "core/process/ProcessRunner.h"
#include "support/ChildProcess.h"

namespace quaylet::testing {

PrivateSecretService::PrivateSecretService() {
    const auto [inputRead, inputWrite] = ChildProcess::pipe();
    const auto [outputRead, outputWrite] = ChildProcess::pipe();
    // The command inside the session reports the bus and then waits for its input to end.
    sessionProcess_ =
        ChildProcess::start({QUAYLET_SOURCE_DIR "/scripts/with-private-keyring.sh", "/bin/sh", "-c",
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

PrivateSecretService::~PrivateSecretService() {
    busVariable_.reset();
    close(sessionInput_);
    ChildProcess::wait(sessionProcess_);
    close(sessionOutput_);
}

void PrivateSecretService::lockDefaultCollection() const {
    ProcessRunner().runChecked(
        ToolCommand{"/usr/bin/gdbus",
                    {"call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                     "/org/freedesktop/secrets", "--method", "org.freedesktop.Secret.Service.Lock",
                     "['/org/freedesktop/secrets/collection/login']"}},
        std::stop_token());
}

}  // namespace quaylet::testing
