#include "core/simulator/LaunchOptions.h"

#include <gtest/gtest.h>

#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

using Assignment = std::optional<std::pair<std::string, std::string>>;

TEST(LaunchOptionsTest, EnvironmentAssignmentsNeedAPortableName) {
    const struct {
        const char* text;
        Assignment expected;
    } cases[] = {
        {"FLAG=on", std::pair("FLAG", "on")},
        {"_x1=a=b", std::pair("_x1", "a=b")},  // split at the first "="
        {"EMPTY=", std::pair("EMPTY", "")},
        {"=value", std::nullopt},
        {"A-B=x", std::nullopt},
        {"A B=x", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseEnvironmentAssignment(c.text), c.expected) << c.text;
    }
    // A name that would smuggle an "=" into the variable it becomes is refused at launch too.
    EXPECT_THROW(checkLaunchOptions({.environment = {{"A=B", "c"}}}), QuayletError);
}

TEST(LaunchOptionsTest, OnlyAbsoluteURLsAreOpened) {
    const struct {
        const char* text;
        bool absolute;
    } cases[] = {
        {"https://example.com/a?b=1#c", true},
        {"myapp://screen/42", true},
        {"/screen/42", false},
        {"-flag", false},
        {"", false},
        {"myapp://screen with space", false},
        {"myapp://screen\n", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isAbsoluteURL(c.text), c.absolute) << c.text;
        EXPECT_EQ(c.absolute, [&] {
            try {
                checkLaunchOptions({.openURL = c.text});
                return true;
            } catch (const QuayletError&) {
                return false;
            }
        }()) << c.text;
    }
}

}  // namespace
}  // namespace quaylet
