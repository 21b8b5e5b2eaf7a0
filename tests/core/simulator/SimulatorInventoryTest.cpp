#include "core/simulator/SimulatorInventory.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/errors/DecodingError.h"

namespace quaylet {
namespace {

std::vector<std::string> identifiers(const std::vector<SimulatorRuntime>& runtimes) {
    std::vector<std::string> result;
    for (const SimulatorRuntime& runtime : runtimes) {
        result.push_back(runtime.identifier);
    }
    return result;
}

std::vector<std::string> udids(const SimulatorInventory& inventory) {
    std::vector<std::string> result;
    for (const SimulatorDevice& device : inventory.devices) {
        result.push_back(device.udid);
    }
    std::ranges::sort(result);  // no order is promised across runtimes
    return result;
}

TEST(SimulatorInventoryTest, KeepsOnlyReadableIOSRuntimesWithTheirDevices) {
    const auto inventory = SimulatorInventory::fromSimctlListing(R"({
        "devicetypes": [],
        "runtimes": [
            {"identifier": "iOS-16", "name": "iOS 16.4", "version": "16.4", "isAvailable": true, "platform": "iOS"},
            {"identifier": "iOS-17.10", "name": "iOS 17.10", "version": "17.10", "isAvailable": true},
            {"identifier": "tvos-iOS", "name": "tvOS", "version": "17.0", "isAvailable": true, "platform": "tvOS"},
            {"identifier": "no-platform-iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": false},
            {"identifier": "watch", "name": "watchOS", "version": "10.0", "isAvailable": true},
            {"identifier": "lower-ios-17", "name": "lower", "version": "17.0", "isAvailable": true, "platform": null},
            {"identifier": "bad-iOS", "name": "bad", "version": "v17", "isAvailable": true},
            {"identifier": "null-platform-iOS-17.0", "name": "iOS 17.0", "version": "17.0", "isAvailable": true, "platform": null, "extra": 1}
        ],
        "devices": {
            "iOS-16": [],
            "tvos-iOS": [{"udid": "TV", "name": "Apple TV", "state": "Shutdown", "isAvailable": true}],
            "no-platform-iOS-17": [
                {"udid": "A", "name": "iPhone 15", "state": "Shutdown", "isAvailable": false, "dataPath": "/x"},
                {"udid": "B", "name": "iPhone 15 Pro", "state": "booted", "isAvailable": true}
            ],
            "watch": [{"udid": "W", "name": "Watch", "state": "Shutdown", "isAvailable": true}],
            "lower-ios-17": [{"udid": "L", "name": "x", "state": "Shutdown", "isAvailable": true}],
            "bad-iOS": [{"udid": "V", "name": "x", "state": "Shutdown", "isAvailable": true}],
            "unknown-iOS": [{"udid": "U", "name": "x", "state": "Shutdown", "isAvailable": true}]
        }
    })");

    // Newest first by number; 17.5 is kept although unavailable, and 17.0 (last) after it.
    EXPECT_EQ(identifiers(inventory.runtimes),
              (std::vector<std::string>{"iOS-17.10", "no-platform-iOS-17", "null-platform-iOS-17.0",
                                        "iOS-16"}));
    EXPECT_EQ(inventory.runtimes[1],
              (SimulatorRuntime{"no-platform-iOS-17", "iOS 17.5", {17, 5, 0}, false}));
    EXPECT_EQ(udids(inventory), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(inventory.devices[0],
              (SimulatorDevice{"A", "iPhone 15", "Shutdown", false, inventory.runtimes[1]}));
    EXPECT_TRUE(inventory.devices[1].isBooted());
    EXPECT_EQ(inventory.devices[1].id(), "B");
    EXPECT_EQ(SimulatorInventory::fromSimctlListing(R"({"devices": {}, "runtimes": []})"),
              SimulatorInventory{});
}

TEST(SimulatorInventoryTest, DuplicateRuntimeLendsDevicesToTheAvailableCopy) {
    struct Case {
        const char* name;
        bool firstAvailable;
        bool secondAvailable;
        const char* expectedRuntimeName;
    };
    const Case cases[] = {
        {"first available, second not", true, false, "first"},
        {"first unavailable, second available", false, true, "second"},
        {"both available: the later one", true, true, "second"},
        {"neither available: the first one", false, false, "first"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string listing = std::string(R"({"runtimes": [
              {"identifier": "iOS-17", "name": "first", "version": "17.0", "isAvailable": )") +
                                    (c.firstAvailable ? "true" : "false") + R"(},
              {"identifier": "iOS-17", "name": "second", "version": "17.0", "isAvailable": )" +
                                    (c.secondAvailable ? "true" : "false") + R"(}],
            "devices": {"iOS-17": [{"udid": "D", "name": "iPhone", "state": "Shutdown", "isAvailable": true}]}})";
        const auto inventory = SimulatorInventory::fromSimctlListing(listing);
        ASSERT_EQ(inventory.devices.size(), 1u);
        EXPECT_EQ(inventory.devices[0].runtime.name, c.expectedRuntimeName);
        ASSERT_EQ(inventory.runtimes.size(), 2u) << "both copies stay listed";
        EXPECT_EQ(inventory.runtimes[0].name, "first") << "equal versions keep document order";
    }
}

TEST(SimulatorInventoryTest, RefusesDocumentsOfAnotherShape) {
    using Kind = DecodingError::Kind;
    const struct {
        const char* listing;
        Kind kind;
        const char* keyPath;
    } cases[] = {
        {R"({"devices": {}})", Kind::keyNotFound, "runtimes"},
        {R"({"runtimes": []})", Kind::keyNotFound, "devices"},
        {"", Kind::dataCorrupted, ""},
        {"{\"devices\": {}, \"runtimes\": [", Kind::dataCorrupted, ""},
        {"[]", Kind::typeMismatch, ""},
        {R"({"devices": [], "runtimes": []})", Kind::typeMismatch, "devices"},
        {R"({"devices": {}, "runtimes": {}})", Kind::typeMismatch, "runtimes"},
        {R"({"devices": {"iOS": {}}, "runtimes": []})", Kind::typeMismatch, R"(devices["iOS"])"},
        {R"({"devices": {}, "runtimes": [{"identifier": "iOS", "name": "n", "version": 17, "isAvailable": true}]})",
         Kind::typeMismatch, "runtimes[0].version"},
        {R"({"devices": {}, "runtimes": [{"identifier": "iOS", "name": "n", "version": "17", "isAvailable": "yes"}]})",
         Kind::typeMismatch, "runtimes[0].isAvailable"},
        {R"({"devices": {}, "runtimes": [{"identifier": "iOS", "name": "n", "version": "17", "isAvailable": true, "platform": 1}]})",
         Kind::typeMismatch, "runtimes[0].platform"},
        {R"({"devices": {}, "runtimes": [{"identifier": "iOS", "version": "17", "isAvailable": true}]})",
         Kind::keyNotFound, "runtimes[0].name"},
        {R"({"devices": {"x": [{"udid": "A", "name": "n", "state": null, "isAvailable": true}]}, "runtimes": []})",
         Kind::valueNotFound, R"(devices["x"][0].state)"},
        {R"({"devices": {"x": [1]}, "runtimes": []})", Kind::typeMismatch, R"(devices["x"][0])"},
        {"{\"devices\": {}, \"runtimes\": [], \"x\": \"\xff\"}", Kind::dataCorrupted, ""},
        {"{\"devices\": {}, \"runtimes\": [], \"x\": 1e400}", Kind::dataCorrupted, ""},  // fuzzing
        // Sections the inventory ignores are still held to the grammar.
        {R"({"devices": {}, "runtimes": [], "devicetypes": [tru]})", Kind::dataCorrupted, ""},
        {R"({"devices": {}, "runtimes": []} {})", Kind::dataCorrupted, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.listing);
        try {
            SimulatorInventory::fromSimctlListing(c.listing);
            ADD_FAILURE() << "decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind);
            EXPECT_EQ(error.keyPath(), c.keyPath);
            EXPECT_FALSE(error.reason().empty());
        }
    }
}

TEST(SimulatorInventoryTest, BootedStateIsTheWholeWordInAnyCase) {
    const std::pair<const char*, bool> cases[] = {
        {"Booted", true},   {"booted", true},    {"BOOTED", true}, {"Booted ", false},
        {"Booting", false}, {"Shutdown", false}, {"", false},
    };
    for (const auto& [state, booted] : cases) {
        SCOPED_TRACE(state);
        EXPECT_EQ((SimulatorDevice{"U", "n", state, true, {}}).isBooted(), booted);
    }
}

}  // namespace
}  // namespace quaylet
