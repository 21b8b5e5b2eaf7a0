#include "core/android/EmulatorSelector.h"

#include <algorithm>
#include <tuple>

#include "core/errors/QuayletError.h"
#include "core/support/TextComparison.h"

namespace quaylet {

AndroidEmulator EmulatorSelector::select(const std::vector<AndroidEmulator>& emulators,
                                         int minimumApiLevel, const std::vector<std::string>& abis,
                                         const std::optional<std::string>& preferredName) const {
    std::vector<const AndroidEmulator*> eligible;
    for (const AndroidEmulator& emulator : emulators) {
        const bool apiFits = emulator.apiLevel && *emulator.apiLevel >= minimumApiLevel;
        const bool abiFits =
            abis.empty() ||
            (emulator.abi && std::find(abis.begin(), abis.end(), *emulator.abi) != abis.end());
        if (apiFits && abiFits) {
            eligible.push_back(&emulator);
        }
    }
    if (eligible.empty()) {
        throw QuayletError::unsupportedApplication(
            "No Android emulator can run this build. It needs API " +
            std::to_string(minimumApiLevel) +
            " or later. Create one in Android Studio’s Device Manager.");
    }
    const auto rank = [&](const AndroidEmulator* emulator) {
        return std::tuple(emulator->name == preferredName, emulator->isRunning(),
                          *emulator->apiLevel);
    };
    return **std::min_element(eligible.begin(), eligible.end(),
                              [&](const auto* left, const auto* right) {
                                  if (rank(left) != rank(right)) {
                                      return rank(left) > rank(right);
                                  }
                                  return naturalCompare(left->name, right->name) < 0;
                              });
}

}  // namespace quaylet
