#include "core/support/SemanticVersion.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TEST(SemanticVersionTest, ParsesLeniently) {
    struct Case {
        const char* text;
        std::optional<SemanticVersion> expected;
    };
    const Case cases[] = {
        {"17", SemanticVersion{17, 0, 0}},
        {"17.2", SemanticVersion{17, 2, 0}},
        {"17.x", SemanticVersion{17, 0, 0}},
        {"17..4", SemanticVersion{17, 0, 4}},
        {"17.2.1.9", SemanticVersion{17, 2, 1}},
        {"+17.-2.3", SemanticVersion{17, -2, 3}},
        {"17.2.x", SemanticVersion{17, 2, 0}},
        {"9223372036854775807", SemanticVersion{9223372036854775807, 0, 0}},
        {" 17", std::nullopt},
        {"17 .2", std::nullopt},
        {"", std::nullopt},
        {"x.1", std::nullopt},
        {".1", std::nullopt},
        {"+", std::nullopt},
        {"+-1", std::nullopt},
        {"9223372036854775808", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SemanticVersion::parse(c.text), c.expected);
    }
    EXPECT_EQ(SemanticVersion::parse("17.2 ")->minor, 0) << "white space is never trimmed";
    EXPECT_EQ(SemanticVersion({17, 2, 0}).description(), "17.2.0");
}

}  // namespace
}  // namespace quaylet
