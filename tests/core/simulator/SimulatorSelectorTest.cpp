#include "core/simulator/SimulatorSelector.h"

#include <gtest/gtest.h>

#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

SimulatorRuntime runtime(SemanticVersion version, bool isAvailable = true) {
    return {"iOS-" + version.description(), "iOS " + version.description(), version, isAvailable};
}

SimulatorDevice d(std::string udid, std::string name, SimulatorRuntime onRuntime,
                  std::string state = "Shutdown", bool isAvailable = true) {
    return {std::move(udid), std::move(name), std::move(state), isAvailable, std::move(onRuntime)};
}

const SimulatorRuntime kIOS16 = runtime({16, 4, 0});
const SimulatorRuntime kIOS17 = runtime({17, 0, 0});
const SimulatorRuntime kIOS175 = runtime({17, 5, 0});
const SimulatorRuntime kIOS18 = runtime({18, 0, 0});
const SimulatorRuntime kIOS18Unavailable = runtime({18, 0, 0}, false);

// Every case asks for iOS 17.0 or later.
TEST(SimulatorSelectorTest, ChoosesByRankThenRuntimeThenNameThenInventoryOrder) {
    const struct {
        const char* name;
        std::vector<SimulatorDevice> devices;
        std::optional<std::string> preferred;
        const char* expected;
    } cases[] = {
        {"booted iPad beats newer iPhone and the preferred device",
         {d("PHONE", "iPhone 16", kIOS18), d("PREF", "iPhone 15", kIOS18),
          d("PAD", "iPad Pro", kIOS17, "Booted")},
         "PREF",
         "PAD"},
        {"preferred beats an iPhone Pro on a newer runtime",
         {d("PRO", "iPhone 16 Pro", kIOS18), d("PREF", "Apple Vision", kIOS17)},
         "PREF",
         "PREF"},
        {"preferred must match exactly",
         {d("PRO", "iPhone 16 Pro", kIOS18), d("PREF", "Apple Vision", kIOS17)},
         "pref",
         "PRO"},
        {"unavailable preferred device is ignored",
         {d("PHONE", "iPhone", kIOS17), d("PREF", "iPad", kIOS18, "Shutdown", false)},
         "PREF",
         "PHONE"},
        {"preferred device below the minimum is ignored",
         {d("PHONE", "iPhone", kIOS17), d("PREF", "iPad", kIOS16)},
         "PREF",
         "PHONE"},
        {"device on an unavailable runtime is ignored",
         {d("OLD", "iPad", kIOS17), d("NEW", "iPhone Pro", kIOS18Unavailable)},
         std::nullopt,
         "OLD"},
        {"a runtime at the minimum is eligible",
         {d("AT", "iPad", kIOS17), d("BELOW", "iPhone Pro", kIOS16)},
         std::nullopt,
         "AT"},
        {"iPhone Pro beats plain iPhone",
         {d("PLAIN", "iPhone 16", kIOS18), d("PRO", "iphone 15 pro", kIOS17)},
         std::nullopt,
         "PRO"},
        {"plain iPhone beats another device",
         {d("OTHER", "Apple Vision Pro", kIOS18), d("PLAIN", "iPhone SE", kIOS17)},
         std::nullopt,
         "PLAIN"},
        {"another device beats an iPad, even an iPad Pro",
         {d("PAD", "iPad Pro 13-inch", kIOS18), d("OTHER", "Apple TV", kIOS17)},
         std::nullopt,
         "OTHER"},
        {"equal rank: newer runtime",
         {d("OLD", "iPhone 15", kIOS175), d("NEW", "iPhone 16", kIOS18)},
         std::nullopt,
         "NEW"},
        {"equal rank and runtime: iPhone 9 before iPhone 15",
         {d("15", "iPhone 15", kIOS18), d("9", "iPhone 9", kIOS18)},
         std::nullopt,
         "9"},
        {"names equal ignoring case keep inventory order",
         {d("FIRST", "iphone 15", kIOS18), d("SECOND", "iPhone 15", kIOS18)},
         std::nullopt,
         "FIRST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SimulatorInventory inventory{{}, c.devices};
        EXPECT_EQ(SimulatorSelector().select(inventory, {17, 0, 0}, c.preferred).udid, c.expected);
    }
}

TEST(SimulatorSelectorTest, NoEligibleDeviceNamesTheRequiredAndAvailableVersions) {
    const SimulatorRuntime unavailable17 = runtime({17, 0, 0}, false);
    const struct {
        SimulatorInventory inventory;
        SemanticVersion minimumOS;
        std::vector<std::string> installed;
    } cases[] = {
        {{{kIOS18, unavailable17, kIOS16},
          {d("A", "iPhone", kIOS18), d("B", "iPhone", unavailable17)}},
         {19, 0, 0},
         {"18.0.0", "16.4.0"}},
        {{}, {17, 0, 0}, {}},
        {{{kIOS18}, {d("A", "iPhone", kIOS18, "Booted", false)}}, {17, 0, 0}, {"18.0.0"}},
    };
    for (const auto& c : cases) {
        try {
            SimulatorSelector().select(c.inventory, c.minimumOS, std::nullopt);
            ADD_FAILURE() << "selected a device";
        } catch (const QuayletError& error) {
            EXPECT_EQ(error,
                      QuayletError::noCompatibleSimulator(c.minimumOS.description(), c.installed));
        }
    }
}

// An unknown or unavailable device named on the command line is the command line's test.
TEST(SimulatorSelectorTest, ANamedDeviceIsTakenAsItIsOrRefusedSayingWhy) {
    const SimulatorInventory inventory{
        {},
        {d("BOOTED", "iPhone 16 Pro", kIOS18, "Booted"), d("OLD", "iPhone 14", kIOS16),
         d("NORUNTIME", "iPad", kIOS18Unavailable), d("PAD", "iPad Air", kIOS175)}};
    const std::pair<const char*, std::string> cases[] = {
        {"PAD", "PAD"},  // named, so it beats the booted iPhone
        {"NORUNTIME", "This Simulator isn’t available."},
        {"OLD", "This Simulator runs iOS 16.4.0, and this build needs iOS 17.0.0 or later."},
    };
    for (const auto& [udid, outcome] : cases) {
        try {
            EXPECT_EQ(SimulatorSelector().require(inventory, {17, 0, 0}, udid).udid, outcome);
        } catch (const QuayletError& error) {
            EXPECT_TRUE(error.errorDescription().starts_with(outcome)) << error.what();
        }
    }
}

}  // namespace
}  // namespace quaylet
