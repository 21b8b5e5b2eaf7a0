#include "core/android/AndroidSdk.h"

#include <cstdlib>
#include <utility>

#include "core/support/UserDirectories.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> absoluteVariable(const AndroidSdk::Variable& variable, const char* name) {
    const std::optional<std::string> value = variable(name);
    if (!value || !fs::path(*value).is_absolute()) {
        return std::nullopt;
    }
    return fs::path(*value);
}

// One word for a POSIX shell, the device's included: single quotes keep every character but
// the single quote itself, which closes the quotes, goes escaped, and opens them again.
std::string quotedForShell(std::string_view word) {
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

AndroidSdk::AndroidSdk(fs::path folder, fs::path avdFolder)
    : folder_(std::move(folder)), avdFolder_(std::move(avdFolder)) {}

AndroidSdk AndroidSdk::fromEnvironment(const Variable& variable, const fs::path& home) {
#ifdef __APPLE__
    const fs::path defaultFolder = home / "Library/Android/sdk";
#else
    const fs::path defaultFolder = home / "Android/Sdk";
#endif
    fs::path folder =
        absoluteVariable(variable, "ANDROID_HOME")
            .value_or(absoluteVariable(variable, "ANDROID_SDK_ROOT").value_or(defaultFolder));
    std::optional<fs::path> avdFolder = absoluteVariable(variable, "ANDROID_AVD_HOME");
    if (!avdFolder) {
        const std::optional<fs::path> userHome = absoluteVariable(variable, "ANDROID_USER_HOME");
        avdFolder = userHome ? *userHome / "avd" : home / ".android/avd";
    }
    return AndroidSdk(std::move(folder), std::move(*avdFolder));
}

AndroidSdk AndroidSdk::forThisHost() {
    return fromEnvironment(
        [](const char* name) -> std::optional<std::string> {
            const char* value = std::getenv(name);
            return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
        },
        homeDirectory());
}

fs::path AndroidSdk::adb() const {
    return folder_ / "platform-tools/adb";
}

fs::path AndroidSdk::emulator() const {
    return folder_ / "emulator/emulator";
}

ToolCommand AndroidSdk::adbVersion() const {
    return {adb().string(), {"version"}};
}

ToolCommand AndroidSdk::emulatorVersion() const {
    return {emulator().string(), {"-version"}};
}

ToolCommand AndroidSdk::listAvds() const {
    return {emulator().string(), {"-list-avds"}};
}

ToolCommand AndroidSdk::listDevices() const {
    return {adb().string(), {"devices"}};
}

ToolCommand AndroidSdk::adbOn(const std::string& serial, std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"-s", serial});
    return {adb().string(), std::move(arguments)};
}

ToolCommand AndroidSdk::avdName(const std::string& serial) const {
    return adbOn(serial, {"emu", "avd", "name"});
}

ToolCommand AndroidSdk::bootEmulator(const std::string& name, int port) const {
    return {emulator().string(), {"-avd", name, "-port", std::to_string(port), "-no-boot-anim"}};
}

ToolCommand AndroidSdk::waitForDevice(const std::string& serial) const {
    return adbOn(serial, {"wait-for-device"});
}

ToolCommand AndroidSdk::install(const std::string& serial, const fs::path& apk) const {
    return adbOn(serial, {"install", "-r", "-t", apk.string()});
}

ToolCommand AndroidSdk::shell(const std::string& serial,
                              const std::vector<std::string>& words) const {
    std::vector<std::string> arguments{"shell"};
    for (const std::string& word : words) {
        arguments.push_back(quotedForShell(word));
    }
    return adbOn(serial, std::move(arguments));
}

}  // namespace quaylet
