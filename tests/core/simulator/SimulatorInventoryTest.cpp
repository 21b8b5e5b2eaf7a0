#include "core/simulator/SimulatorInventory.h"

#include <gtest/gtest.h>

#include "core/errors/DecodingError.h"

namespace quaylet {
namespace {

TEST(SimulatorInventoryTest, KeepsOnlyReadableIOSRuntimesWithTheirDevices) {
    const auto inventory = SimulatorInventory::fromSimctlListing(R"({
        "runtimes": [
            {"identifier": "iOS-16", "name": "iOS 16.4", "version": "16.4", "isAvailable": true, "platform": "iOS"},
            {"identifier": "iOS-16", "name": "iOS 16.4 copy", "version": "16.4", "isAvailable": false},
            {"identifier": "iOS-18", "name": "iOS 18 old", "version": "18.0", "isAvailable": false},
            {"identifier": "iOS-18", "name": "iOS 18", "version": "18.0", "isAvailable": true},
            {"identifier": "iOS-17.10", "name": "iOS 17.10", "version": "17.10", "isAvailable": true},
            {"identifier": "tvos-iOS", "name": "tvOS", "version": "17.0", "isAvailable": true, "platform": "tvOS"},
            {"identifier": "no-platform-iOS-17", "name": "iOS 17.5", "version": "17.5", "isAvailable": false},
            {"identifier": "lower-ios-17", "name": "lower", "version": "17.0", "isAvailable": true, "platform": null},
            {"identifier": "bad-iOS", "name": "bad", "version": "v17", "isAvailable": true, "extra": 1}
        ],
        "devices": {
            "iOS-16": [{"udid": "C", "name": "iPad", "state": "Shutdown", "isAvailable": true}],
            "iOS-18": [{"udid": "D", "name": "iPad", "state": "Shutdown", "isAvailable": true}],
            "tvos-iOS": [{"udid": "TV", "name": "Apple TV", "state": "Shutdown", "isAvailable": true}],
            "no-platform-iOS-17": [
                {"udid": "A", "name": "iPhone 15", "state": "Shutdown", "isAvailable": false, "dataPath": "/x"},
                {"udid": "B", "name": "iPhone 15 Pro", "state": "booted", "isAvailable": true}
            ]
        }
    })");

    // Newest first by number, equal versions in document order; 17.5 is kept although
    // unavailable. Both copies of a runtime listed twice stay.
    std::vector<std::string> identifiers;
    for (const SimulatorRuntime& runtime : inventory.runtimes) {
        identifiers.push_back(runtime.identifier);
    }
    EXPECT_EQ(identifiers, (std::vector<std::string>{"iOS-18", "iOS-18", "iOS-17.10",
                                                     "no-platform-iOS-17", "iOS-16", "iOS-16"}));
    EXPECT_EQ(inventory.runtimes[0].name, "iOS 18 old");
    EXPECT_EQ(inventory.runtimes[3],
              (SimulatorRuntime{"no-platform-iOS-17", "iOS 17.5", {17, 5, 0}, false}));
    // A runtime listed twice lends its devices to the available copy.
    ASSERT_EQ(inventory.devices.size(), 4u);
    EXPECT_EQ(inventory.devices[0].runtime.name, "iOS 16.4");
    EXPECT_EQ(inventory.devices[1].runtime.name, "iOS 18");
    EXPECT_EQ(inventory.devices[2],
              (SimulatorDevice{"A", "iPhone 15", "Shutdown", false, inventory.runtimes[3]}));
    EXPECT_TRUE(inventory.devices[3].isBooted());
}

TEST(SimulatorInventoryTest, RefusesDocumentsOfAnotherShape) {
    using Kind = DecodingError::Kind;
    const struct {
        const char* listing;
        Kind kind;
        const char* keyPath;
    } cases[] = {
        {R"({"devices": {"iOS": {}}, "runtimes": []})", Kind::typeMismatch, R"(devices["iOS"])"},
        {R"({"devices": {}, "runtimes": [{"identifier": "iOS", "name": "n", "version": "17", "isAvailable": true, "platform": 1}]})",
         Kind::typeMismatch, "runtimes[0].platform"},
        {"{\"devices\": {}, \"runtimes\": [], \"x\": \"\xff\"}", Kind::dataCorrupted, ""},
        {"{\"devices\": {}, \"runtimes\": [], \"x\": 1e400}", Kind::dataCorrupted, ""},  // fuzzing
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

}  // namespace
}  // namespace quaylet
