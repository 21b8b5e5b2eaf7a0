#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/android/AndroidEmulator.h"

namespace quaylet {

// What this host has for Android builds. Only information: whether it can run iOS builds
// never depends on it.
struct AndroidEnvironment {
    std::string sdkFolder = {};  // where the SDK is looked for, whether or not it is there
    bool isInstalled = false;    // that folder exists
    // What `adb version` and `emulator -version` report; absent when the tool failed.
    std::optional<std::string> adbVersion = std::nullopt;
    std::optional<std::string> emulatorVersion = std::nullopt;
    std::vector<AndroidEmulator> emulators = {};
    // The sentence a user reads when the SDK is missing, has no emulators, or they could not
    // be listed.
    std::optional<std::string> notice = std::nullopt;

    bool operator==(const AndroidEnvironment&) const = default;
};

}  // namespace quaylet
