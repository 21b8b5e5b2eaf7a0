#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace quaylet {

// The user's launch settings, one JSON object in a file that the application, the command
// line and the settings tab share. Values keep their JSON types, so a hand-edited "false"
// string under activateSimulator is a string, not a boolean, and reads as true. Every read
// goes to the file, so a change made by another process applies to the next launch.
class Settings {
  public:
    static constexpr const char* kPreferredSimulatorKey = "preferredSimulatorUDID";
    static constexpr const char* kPreferredEmulatorKey = "preferredEmulator";
    static constexpr const char* kActivateSimulatorKey = "activateSimulator";
    static constexpr const char* kBootEarlyKey = "startSimulatorWhileDownloading";
    static constexpr const char* kWatchesKey = "watches";
    static constexpr const char* kCacheLimitKey = "cacheLimitGB";
    static constexpr double kDefaultCacheLimitGB = 20;
    static constexpr double kSmallestCacheLimitGB = 0.1;
    static constexpr double kLargestCacheLimitGB = 100000;
    // Why a limit was refused, for the command line and the window alike.
    static constexpr const char* kCacheLimitRange =
        "The cache limit takes 0 (no limit) or 0.1 to 100000 GB.";
    // What a person reads when a write fails.
    static constexpr const char* kCannotSaveMessage =
        "Quaylet couldn’t save its settings. Check the free space, then try again.";
    static constexpr const char* kBootTimeoutKey = "bootTimeoutSeconds";
    static constexpr int kMaxBootTimeoutSeconds = 24 * 60 * 60;

    explicit Settings(std::filesystem::path file);

    // $XDG_CONFIG_HOME/quaylet/settings.json, or under ~/.config.
    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }

    // The UDID to prefer; empty (also when missing or not a string) means automatic.
    std::string preferredSimulatorUDID() const;
    // The Android emulator (AVD name) to prefer; empty, as above, means automatic.
    std::string preferredEmulator() const;
    // Whether to bring Simulator to the front; anything but a stored boolean means true.
    bool activateSimulator() const;
    // Whether a launch boots its simulator beside the download; anything but a stored boolean
    // means true.
    bool startSimulatorWhileDownloading() const;
    // The watched pull requests as stored; empty when missing or not an array.
    QJsonArray watches() const;
    // How many gigabytes (10^9 bytes) downloaded builds may take; 0 means no limit. Anything
    // but a stored number from 0 up means the default.
    double cacheLimitGB() const;
    // The limit in bytes, 0 for none. A stored limit outside the range that can be set (written
    // by hand, or by an older version) still holds: a tiny one never rounds down to no limit,
    // and a huge one is taken as the largest.
    std::uintmax_t cacheLimitBytes() const;
    // Whether a limit may be set: 0, or from the smallest to the largest limit.
    static bool isValidCacheLimitGB(double gigabytes);
    // How long a simulator may take to finish booting before it is restarted; anything but a
    // stored whole number from 1 to kMaxBootTimeoutSeconds means the default, 180.
    std::chrono::seconds bootTimeout() const;

    // Each write replaces the file atomically and keeps keys it does not know. A file that
    // is not a JSON object is moved aside to "settings.json.corrupt-<UTC time>" first. A
    // file that exists but cannot be read is left alone and the write fails, since its
    // contents could not be carried over. Failures throw std::filesystem::filesystem_error.
    void setPreferredSimulatorUDID(const std::string& udid);
    void setPreferredEmulator(const std::string& name);
    void setActivateSimulator(bool activate);
    void setStartSimulatorWhileDownloading(bool start);
    void setWatches(const QJsonArray& watches);
    // Throws std::invalid_argument, with kCacheLimitRange, for a limit that is not valid.
    void setCacheLimitGB(double gigabytes);
    // Throws std::invalid_argument outside 1 to kMaxBootTimeoutSeconds.
    void setBootTimeoutSeconds(int seconds);

  private:
    QJsonValue value(const char* key) const;
    void write(const char* key, const QJsonValue& value);

    std::filesystem::path file_;
};

}  // namespace quaylet
