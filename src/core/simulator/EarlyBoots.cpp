#include "core/simulator/EarlyBoots.h"

#include <algorithm>
#include <utility>

#include "core/support/LaunchTimeline.h"

namespace quaylet {

void EarlyBoots::start(const ProcessRunner& runner, const DeveloperTools& tools,
                       const SimulatorDiscovery& discovery, const SimulatorDevice& device,
                       RepairSettings settings, const Observer& observer, std::stop_token stop) {
    if (std::ranges::find(boots_, device.udid, &Boot::udid) != boots_.end()) {
        return;  // a device named twice boots once
    }
    settings.onRepair = nullptr;  // the launch's own boot tells of its repairs
    Boot& boot = boots_.emplace_back();
    boot.udid = device.udid;
    boot.thread =
        std::jthread([&boot, runner, tools, discovery, device, settings = std::move(settings),
                      observer](std::stop_token bootStop) {
            if (observer) {
                observer("Starting " + device.name + "…");
            }
            try {
                LaunchTimeline unrecorded;
                LaunchTimeline::Step step = unrecorded.begin(LaunchStep::boot, device.name);
                SimulatorRepairs(runner, tools, discovery, settings, bootStop).boot(device, step);
                boot.booted = true;
            } catch (const std::exception&) {
                // Cancelled or failed, the launch's booting stage decides: it boots as ever.
                return;
            }
            if (observer) {
                observer(device.name + " is ready");
            }
        });
    boot.launchStop.emplace(stop, [&boot] { boot.thread.request_stop(); });
}

bool EarlyBoots::await(const std::string& udid) {
    const auto found = std::ranges::find(boots_, udid, &Boot::udid);
    if (found == boots_.end()) {
        return false;
    }
    if (found->thread.joinable()) {
        found->thread.join();
    }
    return found->booted;
}

void EarlyBoots::awaitAll() {
    for (Boot& boot : boots_) {
        if (boot.thread.joinable()) {
            boot.thread.join();
        }
    }
}

}  // namespace quaylet
