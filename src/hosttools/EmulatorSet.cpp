#include "hosttools/EmulatorSet.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "hosttools/StateFiles.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {
namespace {

using nlohmann::json;

// A name becomes a file name in the AVD folder.
bool isAvdName(const std::string& name) {
    return !name.empty() && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' ||
                      c == '-';
           });
}

const json& member(const json& object, const std::string& path, const char* key, bool optional,
                   bool (json::*isType)() const noexcept, const char* type) {
    static const json kAbsent;
    if (!object.is_object()) {
        throw std::runtime_error(path + " must be an object");
    }
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        if (!optional) {
            throw std::runtime_error(path + "." + key + " is missing");
        }
        return kAbsent;
    }
    if (!((*found).*isType)()) {
        throw std::runtime_error(path + "." + key + " must be " + type);
    }
    return *found;
}

std::vector<std::string> strings(const json& array, const std::string& path) {
    std::vector<std::string> values;
    for (const json& value : array) {
        if (!value.is_string()) {
            throw std::runtime_error(path + " must hold strings");
        }
        values.push_back(value.get<std::string>());
    }
    return values;
}

}  // namespace

EmulatorSet EmulatorSet::seeded() {
    return {{{"Pixel_8_API_34", 34, "x86_64"},
             {"Pixel_6_API_30", 30, "x86_64"},
             {"Pixel_Tablet_API_35", 35, "arm64-v8a"}}};
}

json toJson(const EmulatorSet& set) {
    json emulators = json::array();
    for (const StandInEmulator& emulator : set.emulators) {
        json entry = {{"name", emulator.name}, {"api", emulator.apiLevel}, {"abi", emulator.abi}};
        if (emulator.port) {
            entry["port"] = *emulator.port;
        }
        if (emulator.bootSeconds != 0) {
            entry["bootSeconds"] = emulator.bootSeconds;
        }
        if (emulator.bootedAt) {
            entry["bootedAt"] = *emulator.bootedAt;
        }
        if (!emulator.packages.empty()) {
            entry["packages"] = emulator.packages;
        }
        emulators.push_back(std::move(entry));
    }
    return {{"emulators", emulators},
            {"failing", set.failing},
            {"calls", set.calls},
            {"shell", set.shell}};
}

EmulatorSet emulatorSetFromJson(const json& document) {
    const std::string root = "emulators.json";
    const auto array = [&](const json& object, const std::string& path, const char* key) {
        return member(object, path, key, true, &json::is_array, "an array");
    };
    EmulatorSet set;
    const json& emulators = array(document, root, "emulators");
    for (std::size_t index = 0; index < emulators.size(); ++index) {
        const std::string path = root + ".emulators[" + std::to_string(index) + "]";
        const json& entry = emulators[index];
        StandInEmulator emulator{
            member(entry, path, "name", false, &json::is_string, "a string").get<std::string>(),
            member(entry, path, "api", false, &json::is_number_integer, "an integer").get<int>(),
            member(entry, path, "abi", false, &json::is_string, "a string").get<std::string>()};
        if (!isAvdName(emulator.name)) {
            throw std::runtime_error(path + ".name must be letters, digits, '.', '_' and '-'");
        }
        const json& port =
            member(entry, path, "port", true, &json::is_number_integer, "an integer");
        if (!port.is_null()) {
            emulator.port = port.get<int>();
        }
        const auto integer = [&](const char* key) {
            return member(entry, path, key, true, &json::is_number_integer, "an integer");
        };
        if (const json& seconds = integer("bootSeconds"); !seconds.is_null()) {
            emulator.bootSeconds = seconds.get<int>();
        }
        if (const json& bootedAt = integer("bootedAt"); !bootedAt.is_null()) {
            emulator.bootedAt = bootedAt.get<std::int64_t>();
        }
        const json& packages = member(entry, path, "packages", true, &json::is_object, "an object");
        for (const auto& [package, versionCode] : packages.items()) {
            if (!versionCode.is_number_integer()) {
                throw std::runtime_error(path + ".packages." + package + " must be an integer");
            }
            emulator.packages[package] = versionCode.get<std::int64_t>();
        }
        set.emulators.push_back(std::move(emulator));
    }
    if (const json& failing = array(document, root, "failing"); !failing.is_null()) {
        set.failing = strings(failing, root + ".failing");
    }
    for (const auto& [key, lines] : {std::pair{"calls", &set.calls}, {"shell", &set.shell}}) {
        if (const json& found = array(document, root, key); !found.is_null()) {
            for (const json& line : found) {
                lines->push_back(strings(line, root + "." + key));
            }
        }
    }
    return set;
}

EmulatorSetStore::EmulatorSetStore(std::filesystem::path home) : home_(std::move(home)) {}

std::filesystem::path EmulatorSetStore::defaultHome() {
    return stateFolder("QUAYLET_EMULATOR_HOME", "emulator", "stored emulator set");
}

EmulatorSet EmulatorSetStore::run(const std::vector<std::string>& commandLine) const {
    return change(commandLine, [](EmulatorSet&) {});
}

EmulatorSet EmulatorSetStore::change(const std::vector<std::string>& commandLine,
                                     const std::function<void(EmulatorSet&)>& change) const {
    std::filesystem::create_directories(avdFolder());
    const ExclusiveLock lock(home_ / "emulators.lock");
    const std::filesystem::path file = home_ / "emulators.json";
    EmulatorSet set = EmulatorSet::seeded();
    if (std::ifstream input(file, std::ios::binary); input) {
        try {
            set = emulatorSetFromJson(json::parse(input));
        } catch (const std::exception& error) {
            throw std::runtime_error("the stored emulator set " + file.string() +
                                     " is damaged: " + error.what());
        }
    } else if (std::filesystem::exists(file)) {
        throw std::runtime_error("cannot read the stored emulator set " + file.string());
    }
    set.calls.push_back(commandLine);
    replaceFile(file, toJson(set).dump(2) + "\n");
    for (const StandInEmulator& emulator : set.emulators) {
        const std::filesystem::path folder = avdFolder() / (emulator.name + ".avd");
        std::filesystem::create_directories(folder);
        replaceFile(avdFolder() / (emulator.name + ".ini"),
                    "avd.ini.encoding=UTF-8\npath=" + folder.string() + "\ntarget=android-" +
                        std::to_string(emulator.apiLevel) + "\n");
        replaceFile(folder / "config.ini",
                    "AvdId=" + emulator.name + "\nabi.type=" + emulator.abi + "\n");
    }
    std::string joined;
    for (const std::string& word : commandLine) {
        joined += (joined.empty() ? "" : " ") + word;
    }
    for (const std::string& failing : set.failing) {
        if (joined.starts_with(failing) &&
            (joined.size() == failing.size() || joined[failing.size()] == ' ')) {
            throw ToolFailure(1, commandLine.front() + ": failing on request (" + failing + ")");
        }
    }
    // What a refused command changed (the words a device shell received) is kept too.
    std::exception_ptr refusal;
    try {
        change(set);
    } catch (...) {
        refusal = std::current_exception();
    }
    replaceFile(file, toJson(set).dump(2) + "\n");
    if (refusal) {
        std::rethrow_exception(refusal);
    }
    return set;
}

}  // namespace quaylet::hosttools
