#include "support/PrivateSecretService.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "core/process/ProcessRunner.h"
#include "support/ChildProcess.h"

namespace quaylet::testing {
namespace {

std::pair<int, int> makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    return {ends[0], ends[1]};
}

std::string readLine(int descriptor) {
    std::string line;
    char character = 0;
    while (read(descriptor, &character, 1) == 1 && character != '\n') {
        line += character;
    }
    return line;
}

}  // namespace

PrivateSecretService::PrivateSecretService() {
    const auto [inputRead, inputWrite] = makePipe();
    const auto [outputRead, outputWrite] = makePipe();
    // The command inside the session reports the bus and then waits for its input to end.
    sessionProcess_ =
        ChildProcess::start({QUAYLET_SOURCE_DIR "/scripts/with-private-keyring.sh", "/bin/sh", "-c",
                             "printf '%s\\n' \"$DBUS_SESSION_BUS_ADDRESS\" && exec cat >/dev/null"},
                            inputRead, outputWrite);
    close(inputRead);
    close(outputWrite);
    sessionInput_ = inputWrite;
    sessionOutput_ = outputRead;

    busAddress_ = readLine(sessionOutput_);
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
