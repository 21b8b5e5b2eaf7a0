#include "core/simulator/SimulatorInventory.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

#include "core/support/JsonReader.h"
#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

// The listing exactly as the tool prints it, reduced to what the inventory needs.
struct RawRuntime {
    std::string identifier;
    std::string name;
    std::string version;
    bool isAvailable = false;
    std::optional<std::string> platform;
};

struct RawDevice {
    std::string udid;
    std::string name;
    std::string state;
    bool isAvailable = false;
};

struct SimctlResponse {
    std::map<std::string, std::vector<RawDevice>> devices;  // keyed by runtime identifier
    std::vector<RawRuntime> runtimes;
};

RawRuntime readRuntime(JsonValue value, const std::string& path) {
    const JsonObjectReader object(value, path);
    return RawRuntime{
        .identifier = object.required("identifier", readString),
        .name = object.required("name", readString),
        .version = object.required("version", readString),
        .isAvailable = object.required("isAvailable", readBoolean),
        .platform = object.optional("platform", readString),
    };
}

RawDevice readDevice(JsonValue value, const std::string& path) {
    const JsonObjectReader object(value, path);
    return RawDevice{
        .udid = object.required("udid", readString),
        .name = object.required("name", readString),
        .state = object.required("state", readString),
        .isAvailable = object.required("isAvailable", readBoolean),
    };
}

// The tool's map from runtime identifier to device list; an identifier given twice keeps
// its last list, as for any other key.
std::map<std::string, std::vector<RawDevice>> readDeviceMap(JsonValue value,
                                                            const std::string& path) {
    std::map<std::string, std::vector<RawDevice>> devices;
    JsonObjectReader(value, path)
        .forEachMember([&](std::string_view identifier, JsonValue list,
                           const std::string& listPath) {
            devices.insert_or_assign(std::string(identifier), readList(readDevice)(list, listPath));
        });
    return devices;
}

SimctlResponse readResponse(JsonValue value, const std::string& path) {
    const JsonObjectReader object(value, path);
    return SimctlResponse{
        .devices = object.required("devices", readDeviceMap),
        .runtimes = object.required("runtimes", readList(readRuntime)),
    };
}

std::optional<SimulatorRuntime> keptRuntime(const RawRuntime& raw) {
    if (raw.platform && *raw.platform != "iOS") {
        return std::nullopt;
    }
    if (raw.identifier.find("iOS") == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<SemanticVersion> version = SemanticVersion::parse(raw.version);
    if (!version) {
        return std::nullopt;
    }
    return SimulatorRuntime{raw.identifier, raw.name, *version, raw.isAvailable};
}

// The runtime a missing runtime's identifier names: "com.apple.CoreSimulator.SimRuntime.iOS-15-5"
// is iOS 15.5. Absent for an identifier of another form.
std::optional<SimulatorRuntime> missingRuntime(const std::string& identifier) {
    constexpr std::string_view kPrefix = "iOS-";
    const std::string_view last =
        std::string_view(identifier).substr(identifier.rfind('.') + 1);  // npos + 1 is 0
    if (!last.starts_with(kPrefix)) {
        return std::nullopt;
    }
    std::string dotted(last.substr(kPrefix.size()));
    std::ranges::replace(dotted, '-', '.');
    const std::optional<SemanticVersion> version = SemanticVersion::parse(dotted);
    if (!version) {
        return std::nullopt;
    }
    return SimulatorRuntime{identifier, "iOS " + dotted, *version, false};
}

SimulatorInventory assemble(const SimctlResponse& response) {
    SimulatorInventory inventory;
    for (const RawRuntime& raw : response.runtimes) {
        if (std::optional<SimulatorRuntime> runtime = keptRuntime(raw)) {
            inventory.runtimes.push_back(std::move(*runtime));
        }
    }

    // A runtime listed twice lends its devices to the available copy, else to the first.
    std::unordered_map<std::string_view, const SimulatorRuntime*> runtimeByIdentifier;
    for (const SimulatorRuntime& runtime : inventory.runtimes) {
        const auto [entry, inserted] =
            runtimeByIdentifier.try_emplace(runtime.identifier, &runtime);
        if (!inserted && runtime.isAvailable) {
            entry->second = &runtime;
        }
    }

    for (const auto& [identifier, rawDevices] : response.devices) {
        const auto found = runtimeByIdentifier.find(identifier);
        if (found == runtimeByIdentifier.end()) {
            if (const std::optional<SimulatorRuntime> missing = missingRuntime(identifier)) {
                for (const RawDevice& raw : rawDevices) {
                    inventory.devicesWithoutRuntime.push_back(
                        SimulatorDevice{raw.udid, raw.name, raw.state, false, *missing});
                }
            }
            continue;
        }
        for (const RawDevice& raw : rawDevices) {
            inventory.devices.push_back(
                SimulatorDevice{raw.udid, raw.name, raw.state, raw.isAvailable, *found->second});
        }
    }

    std::ranges::stable_sort(inventory.runtimes, std::ranges::greater(),
                             &SimulatorRuntime::version);
    return inventory;
}

}  // namespace

bool SimulatorDevice::isBooted() const {
    return equalsIgnoringCase(state, "Booted");
}

std::optional<std::string> SimulatorInventory::deviceName(const std::string& udid) const {
    for (const auto* list : {&devices, &devicesWithoutRuntime}) {
        if (const auto found = std::ranges::find(*list, udid, &SimulatorDevice::udid);
            found != list->end()) {
            return found->name;
        }
    }
    return std::nullopt;
}

SimulatorInventory SimulatorInventory::fromSimctlListing(std::string_view listing) {
    return assemble(readJsonDocument(listing, readResponse));
}

}  // namespace quaylet
