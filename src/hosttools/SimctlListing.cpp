#include "hosttools/SimctlListing.h"

#include "hosttools/DeviceTypeCatalog.h"

namespace quaylet::hosttools {
namespace {

using nlohmann::ordered_json;

std::filesystem::path profilesFolder(const std::filesystem::path& home) {
    return home / "Profiles";
}

std::string deviceTypeBundlePath(const std::filesystem::path& home, const DeviceType& type) {
    return (profilesFolder(home) / "DeviceTypes" / (std::string(type.name) + ".simdevicetype"))
        .string();
}

ordered_json deviceTypeJson(const std::filesystem::path& home, const DeviceType& type) {
    return {{"productFamily", type.productFamily},
            {"bundlePath", deviceTypeBundlePath(home, type)},
            {"identifier", type.identifier},
            {"name", type.name}};
}

ordered_json runtimeJson(const std::filesystem::path& home, const SimulatedRuntime& runtime) {
    const std::filesystem::path bundle =
        profilesFolder(home) / "Runtimes" / (runtime.name + ".simruntime");
    ordered_json entry{{"bundlePath", bundle.string()}};
    if (runtime.buildVersion) {
        entry["buildversion"] = *runtime.buildVersion;
    }
    if (runtime.platform) {
        entry["platform"] = *runtime.platform;
    }
    entry["runtimeRoot"] = (bundle / "Contents" / "Resources" / "RuntimeRoot").string();
    entry["identifier"] = runtime.identifier;
    entry["version"] = runtime.version;
    entry["isInternal"] = false;
    entry["isAvailable"] = runtime.isAvailable;
    entry["name"] = runtime.name;
    entry["supportedDeviceTypes"] = ordered_json::array();
    for (const DeviceType& type : deviceTypeCatalog()) {
        if (platformRunsFamily(runtime.platform.value_or(""), type.productFamily)) {
            entry["supportedDeviceTypes"].push_back(deviceTypeJson(home, type));
        }
    }
    return entry;
}

ordered_json deviceJson(const std::filesystem::path& home, const SimulatedDevice& device) {
    const std::filesystem::path folder = home / "devices" / device.udid;
    ordered_json entry;
    if (device.lastBootedAt) {
        entry["lastBootedAt"] = *device.lastBootedAt;
    }
    entry["dataPath"] = (folder / "data").string();
    entry["dataPathSize"] = 0;
    entry["logPath"] = (home / "logs" / device.udid).string();
    entry["udid"] = device.udid;
    entry["isAvailable"] = device.isAvailable;
    if (device.availabilityError) {
        entry["availabilityError"] = *device.availabilityError;
    }
    if (device.deviceTypeIdentifier) {
        entry["deviceTypeIdentifier"] = *device.deviceTypeIdentifier;
    }
    entry["state"] = device.state;
    entry["name"] = device.name;
    return entry;
}

}  // namespace

ordered_json simctlListing(const DeviceSet& set, const std::filesystem::path& home) {
    ordered_json document;
    document["devicetypes"] = ordered_json::array();
    for (const DeviceType& type : deviceTypeCatalog()) {
        document["devicetypes"].push_back(deviceTypeJson(home, type));
    }
    document["runtimes"] = ordered_json::array();
    // Every installed runtime gets a device list, even an empty one, as the Mac tool prints it.
    ordered_json devices = ordered_json::object();
    for (const SimulatedRuntime& runtime : set.runtimes) {
        document["runtimes"].push_back(runtimeJson(home, runtime));
        devices[runtime.identifier] = ordered_json::array();
    }
    for (const SimulatedDevice& device : set.devices) {
        devices[device.runtime].push_back(deviceJson(home, device));
    }
    document["devices"] = devices;
    document["pairs"] = ordered_json::object();
    return document;
}

}  // namespace quaylet::hosttools
