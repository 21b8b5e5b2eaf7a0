#include <benchmark/benchmark.h>

#include <string>

#include <nlohmann/json.hpp>

#include "core/simulator/SimulatorInventory.h"
#include "core/simulator/SimulatorSelector.h"

namespace quaylet {
namespace {

// A listing shaped like a busy Mac's: runtimes across many versions, each with many devices,
// plus the fields the tool prints that the inventory ignores.
std::string generatedListing(int runtimeCount, int devicesPerRuntime) {
    nlohmann::json runtimes = nlohmann::json::array();
    nlohmann::json devices = nlohmann::json::object();
    const char* const models[] = {"iPhone 15", "iPhone 16 Pro", "iPad Air (5th generation)",
                                  "iPhone SE (3rd generation)", "iPad Pro 13-inch (M4)"};
    for (int r = 0; r < runtimeCount; ++r) {
        const std::string version = std::to_string(12 + r / 8) + "." + std::to_string(r % 8);
        const std::string identifier = "com.apple.CoreSimulator.SimRuntime.iOS-" +
                                       std::to_string(r) + "-" + std::to_string(r % 8);
        runtimes.push_back(
            {{"identifier", identifier},
             {"name", "iOS " + version},
             {"version", version},
             {"buildversion", "21F79"},
             {"bundlePath", "/Library/Developer/CoreSimulator/Volumes/" + identifier},
             {"isAvailable", r % 5 != 0},
             {"platform", "iOS"}});
        nlohmann::json list = nlohmann::json::array();
        for (int d = 0; d < devicesPerRuntime; ++d) {
            const std::string udid =
                std::to_string(r) + "-" + std::to_string(d) + "-7E2D-4C3B-9F1A-0123456789AB";
            list.push_back(
                {{"udid", udid},
                 {"name", std::string(models[d % 5]) + " " + std::to_string(d)},
                 {"state", "Shutdown"},
                 {"isAvailable", d % 7 != 0},
                 {"dataPath", "/Users/dev/Library/Developer/CoreSimulator/Devices/" + udid},
                 {"deviceTypeIdentifier", "com.apple.CoreSimulator.SimDeviceType.x"}});
        }
        devices[identifier] = std::move(list);
    }
    return nlohmann::json{{"devicetypes", nlohmann::json::array()},
                          {"runtimes", runtimes},
                          {"devices", devices},
                          {"pairs", nlohmann::json::object()}}
        .dump(2);
}

void decodeAssembleAndSelect(benchmark::State& state) {
    const std::string listing = generatedListing(50, 40);
    const SimulatorSelector selector;
    for (auto _ : state) {
        const SimulatorInventory inventory = SimulatorInventory::fromSimctlListing(listing);
        benchmark::DoNotOptimize(selector.select(inventory, {17, 0, 0}, "none"));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listing.size()));
}
BENCHMARK(decodeAssembleAndSelect)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quaylet
