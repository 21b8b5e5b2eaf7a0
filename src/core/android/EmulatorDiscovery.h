#pragma once

#include <stop_token>
#include <vector>

#include "core/android/AndroidEmulator.h"
#include "core/android/AndroidEnvironment.h"
#include "core/android/AndroidSdk.h"
#include "core/process/ProcessRunner.h"

namespace quaylet {

// Finds this host's Android emulators: the AVDs `emulator -list-avds` names, each one's API
// level and ABI from its files in the AVD folder (<name>.ini with path= and
// target=android-<API>, then <path>/config.ini with abi.type=), and which of them run: the
// `adb devices` lines emulator-<port> in state "device", each matched to its AVD by
// `adb -s <serial> emu avd name`. Holds no state; the tools' failures reach the caller.
class EmulatorDiscovery {
  public:
    EmulatorDiscovery(ProcessRunner runner, AndroidSdk sdk);

    const AndroidSdk& sdk() const { return sdk_; }

    // In the order the emulator tool lists them.
    std::vector<AndroidEmulator> emulators(std::stop_token stop) const;

    // The SDK folder, its tools' versions and its emulators, for the diagnostics. Never
    // throws: a missing SDK or a failed listing becomes the notice.
    AndroidEnvironment environment(std::stop_token stop) const;

  private:
    ProcessRunner runner_;
    AndroidSdk sdk_;
};

}  // namespace quaylet
