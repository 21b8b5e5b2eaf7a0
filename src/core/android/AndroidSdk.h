#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/process/ProcessRunner.h"

namespace quaylet {

// Where this host's Android SDK and emulator definitions (AVDs) are, and the command lines
// Quaylet runs its tools with. The same on every host but for the SDK's default folder.
class AndroidSdk {
  public:
    AndroidSdk(std::filesystem::path folder, std::filesystem::path avdFolder);

    // A variable's value, absent when it is not set.
    using Variable = std::function<std::optional<std::string>(const char* name)>;

    // The SDK folder: ANDROID_HOME, else ANDROID_SDK_ROOT, else ~/Library/Android/sdk on macOS
    // and ~/Android/Sdk elsewhere. The AVD folder: ANDROID_AVD_HOME, else ANDROID_USER_HOME/avd,
    // else ~/.android/avd. A variable counts only when it holds an absolute path, since the
    // tools are started by absolute path.
    static AndroidSdk fromEnvironment(const Variable& variable, const std::filesystem::path& home);
    // The same over this process's environment and the user's home folder.
    static AndroidSdk forThisHost();

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& avdFolder() const { return avdFolder_; }
    std::filesystem::path adb() const;       // <sdk>/platform-tools/adb
    std::filesystem::path emulator() const;  // <sdk>/emulator/emulator

    ToolCommand adbVersion() const;                        // adb version
    ToolCommand emulatorVersion() const;                   // emulator -version
    ToolCommand listAvds() const;                          // emulator -list-avds
    ToolCommand listDevices() const;                       // adb devices
    ToolCommand avdName(const std::string& serial) const;  // adb -s <serial> emu avd name
    // emulator -avd <name> -port <port> -no-boot-anim
    ToolCommand bootEmulator(const std::string& name, int port) const;
    ToolCommand waitForDevice(const std::string& serial) const;  // adb -s <serial> wait-for-device
    // adb -s <serial> install -r -t <apk>
    ToolCommand install(const std::string& serial, const std::filesystem::path& apk) const;
    // adb -s <serial> shell <words>. adb joins the words with spaces and the device's shell
    // splits that line again, so each word goes out quoted for that shell and arrives as is.
    ToolCommand shell(const std::string& serial, const std::vector<std::string>& words) const;

    bool operator==(const AndroidSdk&) const = default;

  private:
    ToolCommand adbOn(const std::string& serial, std::vector<std::string> arguments) const;

    std::filesystem::path folder_;
    std::filesystem::path avdFolder_;
};

}  // namespace quaylet
