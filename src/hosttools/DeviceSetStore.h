#pragma once

#include <filesystem>
#include <functional>

#include "hosttools/DeviceSet.h"

namespace quaylet::hosttools {

// The device set on disk: devices.json in the home folder, seeded on first use. Every access
// holds an exclusive lock on devices.lock, and every write replaces the file atomically, so
// concurrent tool runs neither lose each other's changes nor see a half-written file.
class DeviceSetStore {
  public:
    explicit DeviceSetStore(std::filesystem::path home);

    // QUAYLET_SIMULATOR_HOME, else $XDG_DATA_HOME (or ~/.local/share) + quaylet/simulator.
    static std::filesystem::path defaultHome();

    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path devicesFile() const;
    // Where a device keeps its files (installed apps among them).
    std::filesystem::path deviceFolder(const std::string& udid) const;

    DeviceSet read() const;
    // Applies `change` to the current set and saves the result; an exception from `change`
    // leaves the file as it was.
    void update(const std::function<void(DeviceSet&)>& change) const;

  private:
    DeviceSet loadOrSeed() const;
    void save(const DeviceSet& set) const;

    std::filesystem::path home_;
};

}  // namespace quaylet::hosttools
