#include "core/support/SemanticVersion.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace quaylet {
namespace {

TEST(SemanticVersionTest, ParsesLeniently) {
    const std::pair<const char*, std::optional<SemanticVersion>> cases[] = {
        {"17", SemanticVersion{17, 0, 0}},
        {"17..4", SemanticVersion{17, 0, 4}},
        {"17.2.1.9", SemanticVersion{17, 2, 1}},
        {"+17.-2.3", SemanticVersion{17, -2, 3}},
        {"9223372036854775807", SemanticVersion{9223372036854775807, 0, 0}},
        {" 17", std::nullopt},
        {"", std::nullopt},
        {"+-1", std::nullopt},
        {"9223372036854775808", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(SemanticVersion::parse(text), expected) << text;
    }
    EXPECT_EQ(SemanticVersion::parse("17.2 ")->minor, 0) << "white space is never trimmed";
}

}  // namespace
}  // namespace quaylet
