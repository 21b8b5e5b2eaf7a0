#include "core/simulator/SimulatorInventory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/errors/QuayletError.h"
#include "core/service/ServiceRecords.h"
#include "core/simulator/SimulatorSelector.h"

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
    std::vector<std::string> names;
    for (const SimulatorRuntime& runtime : inventory.runtimes) {
        names.push_back(runtime.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"iOS 18 old", "iOS 18", "iOS 17.10", "iOS 17.5",
                                               "iOS 16.4", "iOS 16.4 copy"}));
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
    const std::tuple<const char*, Kind, const char*> cases[] = {
        {R"({"devices": {"iOS": {}}, "runtimes": []})", Kind::typeMismatch, R"(devices["iOS"])"},
        {R"({"devices": {}, "runtimes": [{"identifier": "iOS", "name": "n", "version": "17", "isAvailable": true, "platform": 1}]})",
         Kind::typeMismatch, "runtimes[0].platform"},
        {"{\"devices\": {}, \"runtimes\": [], \"x\": \"\xff\"}", Kind::dataCorrupted, ""},
        {"{\"devices\": {}, \"runtimes\": [], \"x\": 1e400}", Kind::dataCorrupted, ""},  // fuzzing
        {R"({"devices": {}, "runtimes": []} {})", Kind::dataCorrupted, ""},
    };
    for (const auto& [listing, kind, keyPath] : cases) {
        SCOPED_TRACE(listing);
        testing::expectFailure([&] { SimulatorInventory::fromSimctlListing(listing); }, kind,
                               keyPath);
    }
}

SimulatorDevice d(std::string udid, std::string name, SimulatorRuntime onRuntime,
                  std::string state = "Shutdown", bool isAvailable = true) {
    return {std::move(udid), std::move(name), std::move(state), isAvailable, std::move(onRuntime)};
}

const SimulatorRuntime kIOS16{"iOS-16.4", "iOS 16.4", {16, 4, 0}, true};
const SimulatorRuntime kIOS17{"iOS-17", "iOS 17", {17, 0, 0}, true};
const SimulatorRuntime kIOS175{"iOS-17.5", "iOS 17.5", {17, 5, 0}, true};
const SimulatorRuntime kIOS18{"iOS-18", "iOS 18", {18, 0, 0}, true};
const SimulatorRuntime kIOS18Unavailable{"iOS-18", "iOS 18", {18, 0, 0}, false};

// Listed so that no rule's order is the inventory's; the last three are never eligible.
const SimulatorInventory kInventory{
    {kIOS18, kIOS18Unavailable, kIOS175, kIOS17, kIOS16},
    {d("PAD", "iPad Pro 13-inch", kIOS18), d("OTHER", "Apple TV", kIOS17),
     d("PREF", "Apple Vision", kIOS17), d("PLAIN", "iPhone SE", kIOS17),
     d("PRO15", "iphone 15 pro", kIOS17), d("PRO16", "iPhone 16 Pro", kIOS18),
     d("PRO9", "iPhone 9 Pro", kIOS18), d("FIRST", "iphone 15", kIOS175),
     d("SECOND", "iPhone 15", kIOS175), d("BOOTED", "iPad", kIOS17, "Booted"),
     d("GONE", "iPhone Pro", kIOS18, "Booted", false),
     d("NORUNTIME", "iPhone Pro", kIOS18Unavailable), d("OLD", "iPhone Pro", kIOS16)},
    {}};

// Each run asks for iOS 17.0 or later and takes every chosen device out before choosing again,
// so what it chooses is the whole ranking, and it ends naming the versions there are.
TEST(SimulatorSelectorTest, ChoosesByRankThenRuntimeThenNameThenInventoryOrder) {
    const std::vector<std::string> unpreferred = {"BOOTED", "PRO9",  "PRO16", "PRO15", "FIRST",
                                                  "SECOND", "PLAIN", "OTHER", "PREF",  "PAD"};
    const std::pair<std::optional<std::string>, std::vector<std::string>> cases[] = {
        {"PREF",
         {"BOOTED", "PREF", "PRO9", "PRO16", "PRO15", "FIRST", "SECOND", "PLAIN", "OTHER", "PAD"}},
        {"pref", unpreferred},  // only an exact match is preferred
        {"GONE", unpreferred},  // an ineligible preferred device stays out
    };
    for (const auto& [preferred, expected] : cases) {
        SCOPED_TRACE(*preferred);
        SimulatorInventory inventory = kInventory;
        std::vector<std::string> chosen;
        try {
            while (chosen.size() <= kInventory.devices.size()) {
                chosen.push_back(SimulatorSelector().select(inventory, {17, 0, 0}, preferred).udid);
                std::erase_if(inventory.devices, [&](const SimulatorDevice& device) {
                    return device.udid == chosen.back();
                });
            }
        } catch (const QuayletError& error) {
            EXPECT_EQ(error, QuayletError::noCompatibleSimulator(
                                 "17.0.0", {"18.0.0", "17.5.0", "17.0.0", "16.4.0"}));
        }
        EXPECT_EQ(chosen, expected);
    }
}

// An unknown device named on the command line is the command line's test.
TEST(SimulatorSelectorTest, ANamedDeviceIsTakenAsItIsOrRefusedSayingWhy) {
    const SimulatorSelector selector;
    EXPECT_EQ(selector.require(kInventory, {17, 0, 0}, "PAD").udid, "PAD");  // not the booted iPad
    const auto takeOld = [&] { selector.require(kInventory, {17, 0, 0}, "OLD"); };
    EXPECT_THAT(takeOld,
                ::testing::ThrowsMessage<QuayletError>(::testing::StartsWith(
                    "This Simulator runs iOS 16.4.0, and this build needs iOS 17.0.0 or later.")));
}

}  // namespace
}  // namespace quaylet
