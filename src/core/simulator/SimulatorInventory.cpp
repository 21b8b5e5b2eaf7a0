#include "core/simulator/SimulatorInventory.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "core/errors/DecodingError.h"
#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

using nlohmann::json;

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

std::string memberPath(const std::string& objectPath, std::string_view key) {
    return objectPath.empty() ? std::string(key) : objectPath + "." + std::string(key);
}

std::string elementPath(const std::string& arrayPath, std::size_t index) {
    return arrayPath + "[" + std::to_string(index) + "]";
}

void requireType(const json& value, json::value_t type, const char* typeName,
                 const std::string& path) {
    if (value.type() == type) {
        return;
    }
    if (value.is_null()) {
        throw DecodingError(DecodingError::Kind::valueNotFound, path,
                            std::string("Expected ") + typeName + " value but found null instead.");
    }
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        std::string("Expected to decode ") + typeName + " but found " +
                            value.type_name() + " instead.");
}

const json& requiredMember(const json& object, std::string_view key,
                           const std::string& objectPath) {
    const auto found = object.find(key);
    if (found == object.end()) {
        throw DecodingError(DecodingError::Kind::keyNotFound, objectPath,
                            "No value associated with key \"" + std::string(key) + "\".");
    }
    return *found;
}

std::string requiredString(const json& object, std::string_view key,
                           const std::string& objectPath) {
    const json& value = requiredMember(object, key, objectPath);
    requireType(value, json::value_t::string, "String", memberPath(objectPath, key));
    return value.get<std::string>();
}

bool requiredBool(const json& object, std::string_view key, const std::string& objectPath) {
    const json& value = requiredMember(object, key, objectPath);
    requireType(value, json::value_t::boolean, "Bool", memberPath(objectPath, key));
    return value.get<bool>();
}

// Missing and null both read as absent.
std::optional<std::string> optionalString(const json& object, std::string_view key,
                                          const std::string& objectPath) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    requireType(*found, json::value_t::string, "String", memberPath(objectPath, key));
    return found->get<std::string>();
}

RawRuntime decodeRuntime(const json& object, const std::string& path) {
    requireType(object, json::value_t::object, "Dictionary", path);
    return RawRuntime{
        .identifier = requiredString(object, "identifier", path),
        .name = requiredString(object, "name", path),
        .version = requiredString(object, "version", path),
        .isAvailable = requiredBool(object, "isAvailable", path),
        .platform = optionalString(object, "platform", path),
    };
}

RawDevice decodeDevice(const json& object, const std::string& path) {
    requireType(object, json::value_t::object, "Dictionary", path);
    return RawDevice{
        .udid = requiredString(object, "udid", path),
        .name = requiredString(object, "name", path),
        .state = requiredString(object, "state", path),
        .isAvailable = requiredBool(object, "isAvailable", path),
    };
}

SimctlResponse decodeResponse(std::string_view listing) {
    json document;
    try {
        document = json::parse(listing);
    } catch (const json::exception& error) {  // out_of_range too, for a number like 1e400
        throw DecodingError(DecodingError::Kind::dataCorrupted, "",
                            std::string("The given data was not valid JSON. ") + error.what());
    }
    requireType(document, json::value_t::object, "Dictionary", "");

    SimctlResponse response;
    const json& devices = requiredMember(document, "devices", "");
    requireType(devices, json::value_t::object, "Dictionary", "devices");
    for (const auto& [identifier, list] : devices.items()) {
        const std::string listPath = "devices[\"" + identifier + "\"]";
        requireType(list, json::value_t::array, "Array", listPath);
        std::vector<RawDevice>& decoded = response.devices[identifier];
        decoded.reserve(list.size());
        for (std::size_t index = 0; index < list.size(); ++index) {
            decoded.push_back(decodeDevice(list[index], elementPath(listPath, index)));
        }
    }
    const json& runtimes = requiredMember(document, "runtimes", "");
    requireType(runtimes, json::value_t::array, "Array", "runtimes");
    response.runtimes.reserve(runtimes.size());
    for (std::size_t index = 0; index < runtimes.size(); ++index) {
        response.runtimes.push_back(decodeRuntime(runtimes[index], elementPath("runtimes", index)));
    }
    return response;
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

SimulatorInventory SimulatorInventory::fromSimctlListing(std::string_view listing) {
    return assemble(decodeResponse(listing));
}

}  // namespace quaylet
