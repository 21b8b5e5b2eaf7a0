#include "core/android/EmulatorSelector.h"

#include <gtest/gtest.h>

#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

const std::vector<AndroidEmulator> kEmulators = {
    {"Pixel 10", 34, "x86_64", {}},         {"Pixel 9", 34, "x86_64", {}},
    {"Old", 24, "x86_64", "emulator-5554"}, {"Arm", 35, "arm64-v8a", {}},
    {"Unknown", {}, "x86_64", {}},
};

TEST(EmulatorSelectorTest, PrefersTheSettingThenARunningOneThenTheHighestApi) {
    const auto noEmulator = [](const std::string& api) {
        return "No Android emulator can run this build. It needs API " + api +
               " or later. Create one in Android Studio’s Device Manager.";
    };
    const struct {
        int minimum;
        std::vector<std::string> abis;
        std::optional<std::string> preferred;
        std::string chosen;  // or the error's text
    } cases[] = {
        {21, {}, {}, "Old"},                     // running wins over a higher API
        {21, {}, "Pixel 10", "Pixel 10"},        // the setting wins over running
        {25, {}, {}, "Arm"},                     // highest API
        {25, {"x86_64"}, {}, "Pixel 9"},         // an ABI the build carries; then name order
        {25, {"x86_64"}, "Arm", "Pixel 9"},      // a preferred emulator that cannot run it
        {25, {"x86_64"}, "Pixel 1", "Pixel 9"},  // names are exact
        {36, {}, {}, noEmulator("36")},
        {21, {"riscv64"}, {}, noEmulator("21")},
    };
    for (const auto& c : cases) {
        std::string outcome;
        try {
            outcome = EmulatorSelector().select(kEmulators, c.minimum, c.abis, c.preferred).name;
        } catch (const QuayletError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.chosen) << c.minimum << " " << c.preferred.value_or("");
    }
}

}  // namespace
}  // namespace quaylet
