#include "hosttools/DeviceSet.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace quaylet::hosttools {
namespace {

using nlohmann::json;

// Reads one object of the document, naming the key path in every complaint so a hand-written
// devices.json can be fixed from the message alone.
class ObjectReader {
  public:
    ObjectReader(const json& object, std::string path) : object_(object), path_(std::move(path)) {
        if (!object_.is_object()) {
            throw std::runtime_error(path_ + " must be an object");
        }
    }

    const json& required(const char* key) const {
        const auto found = object_.find(key);
        if (found == object_.end()) {
            throw std::runtime_error(path_ + "." + key + " is missing");
        }
        return *found;
    }

    std::string string(const char* key) const {
        const json& value = required(key);
        if (!value.is_string()) {
            throw std::runtime_error(path_ + "." + key + " must be a string");
        }
        return value.get<std::string>();
    }

    bool boolean(const char* key) const {
        const json& value = required(key);
        if (!value.is_boolean()) {
            throw std::runtime_error(path_ + "." + key + " must be true or false");
        }
        return value.get<bool>();
    }

    std::optional<std::string> optionalString(const char* key) const {
        if (!has(key)) {
            return std::nullopt;
        }
        return string(key);
    }

    std::optional<int> optionalInteger(const char* key) const {
        if (!has(key)) {
            return std::nullopt;
        }
        const json& value = required(key);
        if (!value.is_number_integer()) {
            throw std::runtime_error(path_ + "." + key + " must be an integer");
        }
        return value.get<int>();
    }

    // Optional arrays of strings and objects of strings read as empty when absent.
    std::vector<std::string> strings(const char* key) const {
        std::vector<std::string> values;
        for (const json& value : array(key)) {
            if (!value.is_string()) {
                throw std::runtime_error(path_ + "." + key + " must hold strings");
            }
            values.push_back(value.get<std::string>());
        }
        return values;
    }

    std::map<std::string, std::string> stringMap(const char* key) const {
        std::map<std::string, std::string> values;
        if (!has(key)) {
            return values;
        }
        const json& object = required(key);
        if (!object.is_object()) {
            throw std::runtime_error(path_ + "." + key + " must be an object");
        }
        for (const auto& [name, value] : object.items()) {
            if (!value.is_string()) {
                throw std::runtime_error(path_ + "." + key + "." + name + " must be a string");
            }
            values.emplace(name, value.get<std::string>());
        }
        return values;
    }

    // Optional arrays read as empty when absent.
    const json& array(const char* key) const {
        static const json kEmpty = json::array();
        if (!has(key)) {
            return kEmpty;
        }
        const json& value = required(key);
        if (!value.is_array()) {
            throw std::runtime_error(path_ + "." + key + " must be an array");
        }
        return value;
    }

    const std::string& path() const { return path_; }

    bool has(const char* key) const {
        const auto found = object_.find(key);
        return found != object_.end() && !found->is_null();
    }

  private:
    const json& object_;
    std::string path_;
};

std::string indexed(const std::string& path, const char* key, std::size_t index) {
    return path + "." + key + "[" + std::to_string(index) + "]";
}

SimulatedRuntime runtimeFromJson(const ObjectReader& reader) {
    return {reader.string("identifier"),       reader.string("name"),
            reader.string("version"),          reader.boolean("isAvailable"),
            reader.optionalString("platform"), reader.optionalString("buildversion")};
}

SimulatedDevice deviceFromJson(const ObjectReader& reader) {
    SimulatedDevice device{reader.string("udid"),
                           reader.string("name"),
                           reader.string("state"),
                           reader.boolean("isAvailable"),
                           reader.string("runtime"),
                           reader.optionalString("deviceTypeIdentifier"),
                           reader.optionalString("availabilityError"),
                           reader.optionalString("lastBootedAt"),
                           {},
                           reader.strings("openedURLs"),
                           reader.optionalInteger("settlesAfterListings")};
    const json& apps = reader.array("apps");
    for (std::size_t index = 0; index < apps.size(); ++index) {
        const ObjectReader app(apps[index], indexed(reader.path(), "apps", index));
        device.apps.push_back({app.string("bundleIdentifier"), app.string("path"),
                               app.optionalInteger("pid"), app.strings("launchArguments"),
                               app.stringMap("launchEnvironment")});
    }
    return device;
}

template <typename Value>
void putOptional(nlohmann::ordered_json& object, const char* key,
                 const std::optional<Value>& value) {
    if (value) {
        object[key] = *value;
    }
}

SimulatedRuntime iosRuntime(const char* version, const char* build) {
    std::string dashed = version;
    std::replace(dashed.begin(), dashed.end(), '.', '-');
    return {"com.apple.CoreSimulator.SimRuntime.iOS-" + dashed,
            std::string("iOS ") + version,
            version,
            true,
            "iOS",
            build};
}

SimulatedDevice shutDownDevice(const char* name, const char* deviceType,
                               const std::string& runtime) {
    return {makeUuid(),
            name,
            kShutdownState,
            true,
            runtime,
            std::string("com.apple.CoreSimulator.SimDeviceType.") + deviceType,
            std::nullopt,
            std::nullopt,
            {},
            {},
            std::nullopt};
}

}  // namespace

InstalledApp* SimulatedDevice::findApp(const std::string& bundleIdentifier) {
    for (InstalledApp& app : apps) {
        if (app.bundleIdentifier == bundleIdentifier) {
            return &app;
        }
    }
    return nullptr;
}

SimulatedDevice* DeviceSet::findDevice(const std::string& udid) {
    for (SimulatedDevice& device : devices) {
        if (device.udid == udid) {
            return &device;
        }
    }
    return nullptr;
}

const SimulatedRuntime* DeviceSet::findRuntime(const std::string& identifier) const {
    for (const SimulatedRuntime& runtime : runtimes) {
        if (runtime.identifier == identifier) {
            return &runtime;
        }
    }
    return nullptr;
}

DeviceSet DeviceSet::seeded() {
    const SimulatedRuntime ios16 = iosRuntime("16.4", "20E247");
    const SimulatedRuntime ios17 = iosRuntime("17.5", "21F79");
    const SimulatedRuntime ios18 = iosRuntime("18.2", "22C150");
    const SimulatedRuntime tvos18{"com.apple.CoreSimulator.SimRuntime.tvOS-18-2",
                                  "tvOS 18.2",
                                  "18.2",
                                  true,
                                  "tvOS",
                                  "22K154"};
    DeviceSet set;
    set.runtimes = {ios16, ios17, ios18, tvos18};
    set.devices = {
        shutDownDevice("iPhone 14", "iPhone-14", ios16.identifier),
        shutDownDevice("iPhone 15", "iPhone-15", ios17.identifier),
        shutDownDevice("iPhone 15 Pro", "iPhone-15-Pro", ios17.identifier),
        shutDownDevice("iPhone 16", "iPhone-16", ios18.identifier),
        shutDownDevice("iPhone 16 Pro", "iPhone-16-Pro", ios18.identifier),
        shutDownDevice("iPad Air 11-inch (M2)", "iPad-Air-11-inch-M2", ios18.identifier),
        shutDownDevice("Apple TV 4K (3rd generation)", "Apple-TV-4K-3rd-generation-4K",
                       tvos18.identifier),
    };
    // Left behind when its runtime was deleted, as happens on real Macs.
    SimulatedDevice orphan =
        shutDownDevice("iPhone 13", "iPhone-13", "com.apple.CoreSimulator.SimRuntime.iOS-15-5");
    orphan.isAvailable = false;
    orphan.availabilityError = "runtime profile not found using \"System\" match policy";
    set.devices.push_back(orphan);
    return set;
}

std::string makeUuid() {
    std::random_device source;
    std::array<std::uint8_t, 16> bytes{};
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(source());
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    std::string text;
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            text += '-';
        }
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", bytes[index]);
        text += digits;
    }
    return text;
}

std::string currentTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

nlohmann::ordered_json toJson(const DeviceSet& set) {
    nlohmann::ordered_json document;
    document["runtimes"] = nlohmann::ordered_json::array();
    for (const SimulatedRuntime& runtime : set.runtimes) {
        nlohmann::ordered_json entry{{"identifier", runtime.identifier},
                                     {"name", runtime.name},
                                     {"version", runtime.version},
                                     {"isAvailable", runtime.isAvailable}};
        putOptional(entry, "platform", runtime.platform);
        putOptional(entry, "buildversion", runtime.buildVersion);
        document["runtimes"].push_back(entry);
    }
    document["devices"] = nlohmann::ordered_json::array();
    for (const SimulatedDevice& device : set.devices) {
        nlohmann::ordered_json entry{{"udid", device.udid},
                                     {"name", device.name},
                                     {"state", device.state},
                                     {"isAvailable", device.isAvailable},
                                     {"runtime", device.runtime}};
        putOptional(entry, "deviceTypeIdentifier", device.deviceTypeIdentifier);
        putOptional(entry, "availabilityError", device.availabilityError);
        putOptional(entry, "lastBootedAt", device.lastBootedAt);
        entry["apps"] = nlohmann::ordered_json::array();
        for (const InstalledApp& app : device.apps) {
            nlohmann::ordered_json appEntry{{"bundleIdentifier", app.bundleIdentifier},
                                            {"path", app.path.string()}};
            putOptional(appEntry, "pid", app.runningPid);
            if (!app.launchArguments.empty()) {
                appEntry["launchArguments"] = app.launchArguments;
            }
            if (!app.launchEnvironment.empty()) {
                appEntry["launchEnvironment"] = app.launchEnvironment;
            }
            entry["apps"].push_back(appEntry);
        }
        if (!device.openedURLs.empty()) {
            entry["openedURLs"] = device.openedURLs;
        }
        putOptional(entry, "settlesAfterListings", device.settlesAfterListings);
        document["devices"].push_back(entry);
    }
    if (set.xcode) {
        document["xcode"] = {{"version", set.xcode->version},
                             {"simulatorWindow", set.xcode->simulatorWindow}};
    }
    if (set.faults != SimulatedFaults{}) {
        document["faults"] = {{"serviceErrors", set.faults.serviceErrors},
                              {"hangingBootWaits", set.faults.hangingBootWaits},
                              {"failingInstalls", set.faults.failingInstalls}};
    }
    if (!set.windowRequests.empty()) {
        document["windowRequests"] = set.windowRequests;
    }
    if (set.bootMilliseconds != 0) {
        document["bootMilliseconds"] = set.bootMilliseconds;
    }
    if (!set.bootRequests.empty()) {
        document["bootRequests"] = set.bootRequests;
    }
    return document;
}

DeviceSet deviceSetFromJson(const json& document) {
    const ObjectReader root(document, "devices.json");
    DeviceSet set;
    const json& runtimes = root.array("runtimes");
    for (std::size_t index = 0; index < runtimes.size(); ++index) {
        set.runtimes.push_back(runtimeFromJson(
            ObjectReader(runtimes[index], indexed(root.path(), "runtimes", index))));
    }
    const json& devices = root.array("devices");
    for (std::size_t index = 0; index < devices.size(); ++index) {
        set.devices.push_back(
            deviceFromJson(ObjectReader(devices[index], indexed(root.path(), "devices", index))));
    }
    if (root.has("xcode")) {
        const ObjectReader xcode(root.required("xcode"), root.path() + ".xcode");
        set.xcode = SimulatedXcode{xcode.string("version"), xcode.string("simulatorWindow")};
        if (set.xcode->simulatorWindow != kDeviceHubWindow &&
            set.xcode->simulatorWindow != kSimulatorAppWindow &&
            set.xcode->simulatorWindow != kNoWindowApp) {
            throw std::runtime_error(xcode.path() + ".simulatorWindow must be \"" +
                                     kDeviceHubWindow + "\", \"" + kSimulatorAppWindow +
                                     "\" or \"" + kNoWindowApp + "\"");
        }
    }
    if (root.has("faults")) {
        const ObjectReader faults(root.required("faults"), root.path() + ".faults");
        set.faults = {faults.optionalInteger("serviceErrors").value_or(0),
                      faults.optionalInteger("hangingBootWaits").value_or(0),
                      faults.optionalInteger("failingInstalls").value_or(0)};
    }
    set.windowRequests = root.strings("windowRequests");
    set.bootMilliseconds = root.optionalInteger("bootMilliseconds").value_or(0);
    set.bootRequests = root.strings("bootRequests");
    return set;
}

}  // namespace quaylet::hosttools
