#include "core/support/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace quaylet {
namespace {

// Bytes are decoded first, each maximal invalid subpart replaced once. A case's name, bytes in
// and the text they must give.
TEST(TextTest, OutsideTextPrintsInert) {
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"truncated three-byte sequence is one subpart", "a\xE2\x82z", "a\uFFFDz"},
        {"truncated at the end", "a\xF0\x9F\x9A", "a\uFFFD"},
        {"overlong encoding", "\xC0\xAF", "\uFFFD\uFFFD"},
        {"surrogate half", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead bytes", "\xFE\xFF", "\uFFFD\uFFFD"},
        {"printable text passes", "Fix \u201Ccaf\u00E9\u201D #12 \U0001F680",
         "Fix \u201Ccaf\u00E9\u201D #12 \U0001F680"},
        {"line breaks, tab, NUL and DEL", std::string("a\nb\tc\0d\x7F", 8),
         "a\uFFFDb\uFFFDc\uFFFDd\uFFFD"},
        {"C1 controls as characters", "\u009B31m\u0085\u0080", "\uFFFD31m\uFFFD\uFFFD"},
        {"line and paragraph separators", "a\u2028b\u2029c", "a\uFFFDb\uFFFDc"},
        {"bidirectional controls", "\u202Egnp.exe\u202C\u2066\u2069\u200E\u200F\u061C",
         "\uFFFDgnp.exe\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"neighbours of the ranges pass", " ~\u00A0\u2027\u202F", " ~\u00A0\u2027\u202F"},
    };
    for (const auto& [name, bytes, text] : cases) {
        EXPECT_EQ(inertText(bytes), text) << name;
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

}  // namespace
}  // namespace quaylet
