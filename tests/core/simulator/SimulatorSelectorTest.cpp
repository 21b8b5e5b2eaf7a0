#include "core/simulator/SimulatorSelector.h"

#include <gtest/gtest.h>

#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

SimulatorRuntime runtime(SemanticVersion version, bool isAvailable = true) {
    return {"iOS-" + version.description(), "iOS " + version.description(), version, isAvailable};
}

SimulatorDevice device(std::string udid, std::string name, SimulatorRuntime onRuntime,
                       std::string state = "Shutdown", bool isAvailable = true) {
    return {std::move(udid), std::move(name), std::move(state), isAvailable, std::move(onRuntime)};
}

const SimulatorRuntime kIOS16 = runtime({16, 4, 0});
const SimulatorRuntime kIOS17 = runtime({17, 0, 0});
const SimulatorRuntime kIOS175 = runtime({17, 5, 0});
const SimulatorRuntime kIOS1741 = runtime({17, 4, 1});
const SimulatorRuntime kIOS18 = runtime({18, 0, 0});
const SimulatorRuntime kIOS18Unavailable = runtime({18, 0, 0}, false);

TEST(SimulatorSelectorTest, ChoosesByRankThenRuntimeThenNameThenInventoryOrder) {
    struct Case {
        const char* name;
        std::vector<SimulatorDevice> devices;
        SemanticVersion minimumOS;
        std::optional<std::string> preferred;
        const char* expected;
    };
    const Case cases[] = {
        {"booted iPad beats newer iPhone and the preferred device",
         {device("PHONE", "iPhone 16", kIOS18), device("PREF", "iPhone 15", kIOS18),
          device("PAD", "iPad Pro", kIOS17, "Booted")},
         {17, 0, 0},
         "PREF",
         "PAD"},
        {"booted in any letter case",
         {device("A", "iPhone", kIOS18), device("B", "x", kIOS17, "BOOTED")},
         {17, 0, 0},
         std::nullopt,
         "B"},
        {"booting is not booted",
         {device("A", "iPad", kIOS18, "Booting"), device("B", "iPhone", kIOS17, "Shutdown")},
         {17, 0, 0},
         std::nullopt,
         "B"},
        {"preferred beats an iPhone Pro on a newer runtime",
         {device("PRO", "iPhone 16 Pro", kIOS18), device("PREF", "Apple Vision", kIOS17)},
         {17, 0, 0},
         "PREF",
         "PREF"},
        {"preferred must match exactly",
         {device("PRO", "iPhone 16 Pro", kIOS18), device("PREF", "Apple Vision", kIOS17)},
         {17, 0, 0},
         "pref",
         "PRO"},
        {"unavailable preferred device is ignored",
         {device("PHONE", "iPhone", kIOS17), device("PREF", "iPad", kIOS18, "Shutdown", false)},
         {17, 0, 0},
         "PREF",
         "PHONE"},
        {"preferred device below the minimum is ignored",
         {device("PHONE", "iPhone", kIOS17), device("PREF", "iPad", kIOS16)},
         {17, 0, 0},
         "PREF",
         "PHONE"},
        {"device on an unavailable runtime is ignored",
         {device("OLD", "iPad", kIOS17), device("NEW", "iPhone Pro", kIOS18Unavailable)},
         {17, 0, 0},
         std::nullopt,
         "OLD"},
        {"iPhone Pro beats plain iPhone",
         {device("PLAIN", "iPhone 16", kIOS18), device("PRO", "iphone 15 pro", kIOS17)},
         {17, 0, 0},
         std::nullopt,
         "PRO"},
        {"plain iPhone beats another device",
         {device("OTHER", "Apple Vision Pro", kIOS18), device("PLAIN", "iPhone SE", kIOS17)},
         {17, 0, 0},
         std::nullopt,
         "PLAIN"},
        {"another device beats an iPad, even an iPad Pro",
         {device("PAD", "iPad Pro 13-inch", kIOS18), device("OTHER", "Apple TV", kIOS17)},
         {17, 0, 0},
         std::nullopt,
         "OTHER"},
        {"equal rank: newer runtime",
         {device("OLD", "iPhone 15", kIOS175), device("NEW", "iPhone 16", kIOS18)},
         {17, 0, 0},
         std::nullopt,
         "NEW"},
        {"equal rank and runtime: iPhone 15 before iPhone 16",
         {device("16", "iPhone 16", kIOS18), device("15", "iPhone 15", kIOS18)},
         {17, 0, 0},
         std::nullopt,
         "15"},
        {"equal rank and runtime: iPhone 9 before iPhone 15",
         {device("15", "iPhone 15", kIOS18), device("9", "iPhone 9", kIOS18)},
         {17, 0, 0},
         std::nullopt,
         "9"},
        {"names equal ignoring case keep inventory order",
         {device("FIRST", "iphone 15", kIOS18), device("SECOND", "iPhone 15", kIOS18)},
         {17, 0, 0},
         std::nullopt,
         "FIRST"},
        {"a runtime at the minimum is eligible",
         {device("AT", "iPad", kIOS175), device("BELOW", "iPhone Pro", kIOS1741)},
         {17, 5, 0},
         std::nullopt,
         "AT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SimulatorInventory inventory{{}, c.devices};
        EXPECT_EQ(SimulatorSelector().select(inventory, c.minimumOS, c.preferred).udid, c.expected);
    }
}

TEST(SimulatorSelectorTest, NoEligibleDeviceNamesTheRequiredAndAvailableVersions) {
    struct Case {
        const char* name;
        SimulatorInventory inventory;
        SemanticVersion minimumOS;
        std::vector<std::string> installed;
    };
    const SimulatorRuntime unavailable17 = runtime({17, 0, 0}, false);
    const Case cases[] = {
        {"runtimes too old, unavailable one left out",
         {{kIOS18, unavailable17, kIOS16},
          {device("A", "iPhone", kIOS18), device("B", "iPhone", unavailable17)}},
         {19, 0, 0},
         {"18.0.0", "16.4.0"}},
        {"empty inventory", {}, {17, 0, 0}, {}},
        {"new enough runtime without available devices",
         {{kIOS18}, {device("A", "iPhone", kIOS18, "Booted", false)}},
         {17, 0, 0},
         {"18.0.0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            SimulatorSelector().select(c.inventory, c.minimumOS, std::nullopt);
            ADD_FAILURE() << "selected a device";
        } catch (const QuayletError& error) {
            EXPECT_EQ(error,
                      QuayletError::noCompatibleSimulator(c.minimumOS.description(), c.installed));
        }
    }
}

TEST(SimulatorSelectorTest, ANamedDeviceIsTakenAsItIsOrRefusedSayingWhy) {
    const SimulatorInventory inventory{
        {},
        {device("BOOTED", "iPhone 16 Pro", kIOS18, "Booted"), device("OLD", "iPhone 14", kIOS16),
         device("GONE", "iPhone 13", kIOS18, "Shutdown", false),
         device("NORUNTIME", "iPad", kIOS18Unavailable), device("PAD", "iPad Air", kIOS175)}};
    const struct {
        const char* udid;
        const char* refusal;  // null when the device is taken
    } cases[] = {
        {"PAD", nullptr},  // named, so it beats the booted iPhone
        {"pad", "No Simulator has this UDID."},
        {"GONE", "This Simulator isn’t available."},
        {"NORUNTIME", "This Simulator isn’t available."},
        {"OLD", "This Simulator runs iOS 16.4.0, and this build needs iOS 17.0.0 or later."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.udid);
        try {
            EXPECT_EQ(SimulatorSelector().require(inventory, {17, 0, 0}, c.udid).udid, c.udid);
            EXPECT_EQ(c.refusal, nullptr);
        } catch (const QuayletError& error) {
            ASSERT_NE(c.refusal, nullptr) << error.what();
            EXPECT_TRUE(error.errorDescription().starts_with(c.refusal)) << error.what();
        }
    }
}

}  // namespace
}  // namespace quaylet
