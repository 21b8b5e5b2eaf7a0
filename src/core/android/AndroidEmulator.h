#pragma once

#include <optional>
#include <string>

namespace quaylet {

// One Android emulator definition (AVD), and the running emulator that is it, if any.
struct AndroidEmulator {
    std::string name;
    std::optional<int> apiLevel;        // from its target, android-<API>; absent when unreadable
    std::optional<std::string> abi;     // abi.type of its config.ini
    std::optional<std::string> serial;  // emulator-<port> while it runs

    bool isRunning() const { return serial.has_value(); }
    bool operator==(const AndroidEmulator&) const = default;
};

}  // namespace quaylet
