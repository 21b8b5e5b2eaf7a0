#include "core/support/TextComparison.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TEST(TextComparisonTest, NaturalOrderComparesDigitRunsByValueAndIgnoresCase) {
    struct Case {
        const char* left;
        const char* right;
        std::weak_ordering expected;
    };
    const Case cases[] = {
        {"iPhone 9", "iPhone 15", std::weak_ordering::less},
        {"iPhone 15", "iPhone 16", std::weak_ordering::less},
        {"iPhone 15", "iPhone 15 Pro", std::weak_ordering::less},
        {"iphone 15", "iPhone 15", std::weak_ordering::equivalent},
        {"IPAD", "iPhone", std::weak_ordering::less},
        {"iPhone 007", "iPhone 7", std::weak_ordering::equivalent},
        {"iPhone 8", "iPhone 007", std::weak_ordering::greater},
        {"a99999999999999999999999", "a100000000000000000000000", std::weak_ordering::less},
        {"x2y10", "x2y9", std::weak_ordering::greater},
        {"", "a", std::weak_ordering::less},
        {"1", "a", std::weak_ordering::less},
        {"z", "\xC3\xA9", std::weak_ordering::less},  // é after every ASCII letter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " | " + c.right);
        EXPECT_EQ(naturalCompare(c.left, c.right), c.expected);
        EXPECT_EQ(naturalCompare(c.right, c.left), 0 <=> c.expected)
            << "the order is antisymmetric";
    }
}

TEST(TextComparisonTest, CaseInsensitiveEqualityAndSearch) {
    EXPECT_TRUE(equalsIgnoringCase("bOOted", "Booted"));
    EXPECT_FALSE(equalsIgnoringCase("Booted ", "Booted"));
    EXPECT_TRUE(
        containsIgnoringCase("Unable to boot: CURRENT STATE: BOOTED\n", "current state: Booted"));
    EXPECT_FALSE(containsIgnoringCase("current state:  Booted", "current state: Booted"));
    EXPECT_TRUE(containsIgnoringCase("anything", ""));
    EXPECT_FALSE(containsIgnoringCase("", "x"));
}

}  // namespace
}  // namespace quaylet
