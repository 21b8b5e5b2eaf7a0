#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quaylet::hosttools {

inline constexpr const char* kBootedState = "Booted";
inline constexpr const char* kShutdownState = "Shutdown";

struct SimulatedRuntime {
    std::string identifier;
    std::string name;
    std::string version;
    bool isAvailable = true;
    std::optional<std::string> platform;
    std::optional<std::string> buildVersion;
};

struct InstalledApp {
    std::string bundleIdentifier;
    std::filesystem::path path;     // the copied .app inside the device's container folder
    std::optional<int> runningPid;  // set by a launch, cleared by shutdown or reinstall
    // What the latest launch gave the app: its arguments and its environment (the launching
    // tool's SIMCTL_CHILD_ variables, without the prefix).
    std::vector<std::string> launchArguments = {};
    std::map<std::string, std::string> launchEnvironment = {};
};

struct SimulatedDevice {
    std::string udid;
    std::string name;
    std::string state;
    bool isAvailable = true;
    std::string runtime;  // a runtime identifier; it need not name an installed runtime
    std::optional<std::string> deviceTypeIdentifier;
    std::optional<std::string> availabilityError;
    std::optional<std::string> lastBootedAt;
    std::vector<InstalledApp> apps;
    std::vector<std::string> openedURLs = {};  // every URL "simctl openurl" opened, in order
    // In a passing state (neither shut down nor booted), the device is listed shut down from
    // this many listings on.
    std::optional<int> settlesAfterListings = std::nullopt;

    bool isBooted() const { return state == kBootedState; }
    InstalledApp* findApp(const std::string& bundleIdentifier);
};

// Where the simulator window comes from: Xcode 27's Device Hub, or Simulator.app before it.
inline constexpr const char* kDeviceHubWindow = "DeviceHub";
inline constexpr const char* kSimulatorAppWindow = "Simulator";
inline constexpr const char* kNoWindowApp = "none";

// The Xcode whose developer folder xcode-select prints, laid out under the set's home.
struct SimulatedXcode {
    std::string version;          // its CFBundleShortVersionString
    std::string simulatorWindow;  // kDeviceHubWindow, kSimulatorAppWindow or kNoWindowApp
};

// Failures the next runs play, each counted down as it is played.
struct SimulatedFaults {
    int serviceErrors = 0;     // list and boot: the simulator service's connection fails
    int hangingBootWaits = 0;  // bootstatus: never returns
    int failingInstalls = 0;   // install: refused

    bool operator==(const SimulatedFaults&) const = default;
};

// The whole simulated inventory as kept in devices.json (the format is in README.md).
struct DeviceSet {
    std::vector<SimulatedRuntime> runtimes;
    std::vector<SimulatedDevice> devices;
    std::optional<SimulatedXcode> xcode;  // absent: the tool folder is the developer folder
    SimulatedFaults faults;
    // Every window "open" brought forward, as its arguments joined by spaces, in order.
    std::vector<std::string> windowRequests;
    // How long a "boot" takes before the device counts as booted: a cold boot, simulated.
    int bootMilliseconds = 0;
    // The device of every "boot" accepted, in order.
    std::vector<std::string> bootRequests;

    SimulatedDevice* findDevice(const std::string& udid);
    const SimulatedRuntime* findRuntime(const std::string& identifier) const;

    // A realistic first inventory: three iOS runtimes and a tvOS one, phones and an iPad shut
    // down, and one device left behind by a runtime that is no longer installed.
    static DeviceSet seeded();
};

// An upper-case random (version 4) UUID, the form device identifiers take.
std::string makeUuid();

// Now, as the ISO 8601 UTC text the set stores for boot times.
std::string currentTimestamp();

nlohmann::ordered_json toJson(const DeviceSet& set);
// Throws std::runtime_error naming the offending field (as a key path) when the document is
// malformed.
DeviceSet deviceSetFromJson(const nlohmann::json& document);

}  // namespace quaylet::hosttools
