// The simulator tool's JSON listing, decoded and assembled into the inventory. Anything that is
// not a listing must end in DecodingError, and what is kept must keep the inventory's promises.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/errors/DecodingError.h"
#include "core/simulator/SimulatorInventory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view listing(reinterpret_cast<const char*>(data), size);
    quaylet::SimulatorInventory inventory;
    try {
        inventory = quaylet::SimulatorInventory::fromSimctlListing(listing);
    } catch (const quaylet::DecodingError&) {
        return 0;
    }
    const auto newerFirst = [](const auto& left, const auto& right) {
        return left.version > right.version;
    };
    if (!std::is_sorted(inventory.runtimes.begin(), inventory.runtimes.end(), newerFirst)) {
        std::abort();
    }
    for (const auto& device : inventory.devices) {
        if (device.runtime.identifier.find("iOS") == std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
