#pragma once

#include <functional>
#include <list>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/simulator/SimulatorDiscovery.h"
#include "core/simulator/SimulatorInventory.h"
#include "core/simulator/SimulatorRepairs.h"

namespace quaylet {

// The boots one launch starts before it needs their devices, beside its download. Each runs on
// a thread of its own that this object owns and joins; the launch's stop ends its command.
class EarlyBoots {
  public:
    // Told on a boot's own thread: "Starting iPhone 16 Pro…", then "iPhone 16 Pro is ready".
    using Observer = std::function<void(const std::string&)>;

    EarlyBoots() = default;
    EarlyBoots(const EarlyBoots&) = delete;
    EarlyBoots& operator=(const EarlyBoots&) = delete;
    // Stops the boots still running and waits for their threads.
    ~EarlyBoots() = default;

    // Boots the device as a launch would, repairs included, but quietly: a failure here is not
    // the launch's, whose own boot follows it.
    void start(const ProcessRunner& runner, const DeveloperTools& tools,
               const SimulatorDiscovery& discovery, const SimulatorDevice& device,
               RepairSettings settings, const Observer& observer, std::stop_token stop);

    // Waits for the device's early boot, if it has one; true when that boot has booted it.
    bool await(const std::string& udid);
    // Waits for every early boot to end, so that none is cut short when the launch is over.
    void awaitAll();

  private:
    struct Boot {
        std::string udid;
        bool booted = false;  // written by its thread, read once the thread has been joined
        std::jthread thread = {};
        // Declared last so it goes first: the thread it stops outlives it.
        std::optional<std::stop_callback<std::function<void()>>> launchStop = std::nullopt;
    };

    std::list<Boot> boots_;  // a thread keeps the address of its Boot
};

}  // namespace quaylet
