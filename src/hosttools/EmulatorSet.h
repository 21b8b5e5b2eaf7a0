#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quaylet::hosttools {

// One emulator definition (AVD) of the stand-in tools.
struct StandInEmulator {
    std::string name;  // letters, digits, '.', '_' and '-', as the emulator allows
    int apiLevel = 0;
    std::string abi;
    std::optional<int> port = std::nullopt;  // its console port while it runs
    int bootSeconds = 0;                     // how long a started emulator takes to boot
    std::optional<std::int64_t> bootedAt = std::nullopt;  // when it finishes, seconds since 1970
    std::map<std::string, std::int64_t> packages = {};    // installed: package → versionCode

    std::string serial() const { return "emulator-" + std::to_string(port.value_or(0)); }
};

// What the adb and emulator stand-ins work over: the emulators, the command lines that fail on
// request (a run fails when its words, joined by spaces, begin with one of them: "adb devices",
// "adb -s emulator-5554 emu"), every command line run so far, oldest first, and the words each
// `adb shell` line came to after the device's shell split it.
struct EmulatorSet {
    std::vector<StandInEmulator> emulators;
    std::vector<std::string> failing = {};
    std::vector<std::vector<std::string>> calls = {};
    std::vector<std::vector<std::string>> shell = {};

    // Three stopped emulators: Pixel_8_API_34 and Pixel_6_API_30 for x86_64,
    // Pixel_Tablet_API_35 for arm64-v8a.
    static EmulatorSet seeded();
};

nlohmann::json toJson(const EmulatorSet& set);
// Throws std::runtime_error naming the key path of the first value that breaks the format.
EmulatorSet emulatorSetFromJson(const nlohmann::json& document);

// The set on disk: emulators.json in the home folder, seeded on first use, each access under
// an exclusive lock on emulators.lock. Every change also writes each emulator's definition
// files into avd/ in the home folder, as the SDK's tools keep them, so a reader of AVD files
// pointed there (ANDROID_AVD_HOME) finds what the stand-ins list.
class EmulatorSetStore {
  public:
    explicit EmulatorSetStore(std::filesystem::path home);

    // QUAYLET_EMULATOR_HOME, else $XDG_DATA_HOME (or ~/.local/share) + quaylet/emulator.
    static std::filesystem::path defaultHome();

    std::filesystem::path avdFolder() const { return home_ / "avd"; }

    // Records the command line (the tool's name, then its arguments) and returns the set as
    // saved; throws ToolFailure, status 1, when the set says the command line fails.
    EmulatorSet run(const std::vector<std::string>& commandLine) const;

    // As run, then applies change to the set and saves it, under the same lock, even when
    // change throws (which the caller then gets).
    EmulatorSet change(const std::vector<std::string>& commandLine,
                       const std::function<void(EmulatorSet&)>& change) const;

  private:
    std::filesystem::path home_;
};

}  // namespace quaylet::hosttools
