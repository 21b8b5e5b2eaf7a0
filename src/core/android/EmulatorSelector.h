#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/android/AndroidEmulator.h"

namespace quaylet {

// Chooses the emulator an Android build runs on. Holds no state.
class EmulatorSelector {
  public:
    // Eligible emulators have a known API level of at least minimumApiLevel and, when the build
    // has native code (abis not empty), an ABI among abis. Of those: the preferred one (by
    // exact name), else a running one, else the highest API level; then the name, in the file
    // browser's order. With none eligible, QuayletError::unsupportedApplication saying which
    // API level the build needs.
    AndroidEmulator select(const std::vector<AndroidEmulator>& emulators, int minimumApiLevel,
                           const std::vector<std::string>& abis,
                           const std::optional<std::string>& preferredName) const;
};

}  // namespace quaylet
