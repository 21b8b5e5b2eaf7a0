#include "core/support/TextComparison.h"

#include <gtest/gtest.h>

#include <compare>
#include <string>
#include <tuple>

namespace quaylet {
namespace {

TEST(TextComparisonTest, NaturalOrderComparesDigitRunsByValueAndIgnoresCase) {
    const std::tuple<std::string, std::string, std::weak_ordering> cases[] = {
        {"iPhone 15", "iPhone 15 Pro", std::weak_ordering::less},
        {"iphone 15", "iPhone 15", std::weak_ordering::equivalent},
        {"iPhone 007", "iPhone 7", std::weak_ordering::equivalent},
        {"a99999999999999999999999", "a100000000000000000000000", std::weak_ordering::less},
        {"x2y10", "x2y9", std::weak_ordering::greater},
        {"z", "\xC3\xA9", std::weak_ordering::less},  // é after every ASCII letter
    };
    for (const auto& [left, right, expected] : cases) {
        EXPECT_EQ(naturalCompare(left, right), expected) << left << " | " << right;
        EXPECT_EQ(naturalCompare(right, left), 0 <=> expected) << "the order is antisymmetric";
    }
}

}  // namespace
}  // namespace quaylet
