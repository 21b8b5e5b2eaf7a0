#include "hosttools/DeviceSetStore.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "hosttools/StateFiles.h"

namespace quaylet::hosttools {

DeviceSetStore::DeviceSetStore(std::filesystem::path home) : home_(std::move(home)) {}

std::filesystem::path DeviceSetStore::defaultHome() {
    return stateFolder("QUAYLET_SIMULATOR_HOME", "simulator", "simulated device set");
}

std::filesystem::path DeviceSetStore::devicesFile() const {
    return home_ / "devices.json";
}

std::filesystem::path DeviceSetStore::deviceFolder(const std::string& udid) const {
    return home_ / "devices" / udid;
}

DeviceSet DeviceSetStore::read() const {
    std::filesystem::create_directories(home_);
    const ExclusiveLock lock(home_ / "devices.lock");
    return loadOrSeed();
}

void DeviceSetStore::update(const std::function<void(DeviceSet&)>& change) const {
    std::filesystem::create_directories(home_);
    const ExclusiveLock lock(home_ / "devices.lock");
    DeviceSet set = loadOrSeed();
    change(set);
    save(set);
}

DeviceSet DeviceSetStore::loadOrSeed() const {
    const std::filesystem::path file = devicesFile();
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        if (std::filesystem::exists(file)) {
            throw std::runtime_error("cannot read the simulated device set " + file.string());
        }
        DeviceSet seeded = DeviceSet::seeded();
        save(seeded);
        return seeded;
    }
    try {
        return deviceSetFromJson(nlohmann::json::parse(input));
    } catch (const std::exception& error) {
        throw std::runtime_error("the simulated device set " + file.string() +
                                 " is damaged: " + error.what());
    }
}

void DeviceSetStore::save(const DeviceSet& set) const {
    replaceFile(devicesFile(), toJson(set).dump(2) + "\n");
}

}  // namespace quaylet::hosttools
