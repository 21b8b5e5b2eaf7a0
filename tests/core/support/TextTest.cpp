#include "core/support/Text.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/support/SemanticVersion.h"
#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

// Bytes in, the text they must give.
struct Case {
    const char* name;
    std::string bytes;
    std::string text;
};

TEST(TextTest, ReplacesEachMaximalInvalidSubpartOnce) {
    const Case cases[] = {
        {"valid text passes", "caf\xC3\xA9 \xF0\x9F\x9A\x80", "caf\xC3\xA9 \xF0\x9F\x9A\x80"},
        {"lone continuation", "a\x80z", "a\uFFFDz"},
        {"truncated three-byte sequence is one subpart", "a\xE2\x82z", "a\uFFFDz"},
        {"truncated at the end", "a\xF0\x9F\x9A", "a\uFFFD"},
        {"overlong encoding", "\xC0\xAF", "\uFFFD\uFFFD"},
        {"surrogate half", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead bytes", "\xFE\xFF", "\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeUtf8Lossy(c.bytes), c.text);
    }
}

TEST(TextTest, OutsideTextPrintsInert) {
    const Case cases[] = {
        {"printable text passes", "Fix \u201Ccaf\u00E9\u201D #12 \U0001F680",
         "Fix \u201Ccaf\u00E9\u201D #12 \U0001F680"},
        {"line breaks, tab, NUL and DEL", std::string("a\nb\tc\0d\x7F", 8),
         "a\uFFFDb\uFFFDc\uFFFDd\uFFFD"},
        {"C1 controls as characters", "\u009B31m\u0085\u0080", "\uFFFD31m\uFFFD\uFFFD"},
        {"C1 control as a raw byte", "\x9Bz", "\uFFFDz"},
        {"line and paragraph separators", "a\u2028b\u2029c", "a\uFFFDb\uFFFDc"},
        {"bidirectional controls", "\u202Egnp.exe\u202C\u2066\u2069\u200E\u200F\u061C",
         "\uFFFDgnp.exe\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"neighbours of the ranges pass", " ~\u00A0\u2027\u202F", " ~\u00A0\u2027\u202F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(inertText(c.bytes), c.text);
    }
}

TEST(TextTest, TrimsAsciiAndUnicodeWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trimmed(" \t\r\n word \v\f"), "word");
    EXPECT_EQ(trimmed("\u00A0\u2028two words\u3000\u0085"), "two words");
    EXPECT_EQ(trimmed("inner \n space"), "inner \n space");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed("caf\xC3\xA9 "), "caf\xC3\xA9");
    EXPECT_EQ(trimmed("\x80 "), "\x80") << "invalid bytes are kept";
}

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

TEST(SemanticVersionTest, ParsesLeniently) {
    const std::pair<const char*, std::optional<SemanticVersion>> cases[] = {
        {"17", SemanticVersion{17, 0, 0}},
        {"17..4", SemanticVersion{17, 0, 4}},
        {"17.2.1.9", SemanticVersion{17, 2, 1}},
        {"+17.-2.3", SemanticVersion{17, -2, 3}},
        {"9223372036854775807", SemanticVersion{9223372036854775807, 0, 0}},
        {" 17", std::nullopt},
        {"", std::nullopt},
        {".1", std::nullopt},
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
