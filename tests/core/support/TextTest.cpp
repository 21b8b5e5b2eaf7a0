#include "core/support/Text.h"

#include <gtest/gtest.h>

namespace quaylet {
namespace {

TEST(TextTest, ReplacesEachMaximalInvalidSubpartOnce) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    };
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

TEST(TextTest, TrimsAsciiAndUnicodeWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(trimmed(" \t\r\n word \v\f"), "word");
    EXPECT_EQ(trimmed("\u00A0\u2028two words\u3000\u0085"), "two words");
    EXPECT_EQ(trimmed("inner \n space"), "inner \n space");
    EXPECT_EQ(trimmed("  \n "), "");
    EXPECT_EQ(trimmed(""), "");
    EXPECT_EQ(trimmed("caf\xC3\xA9 "), "caf\xC3\xA9");
    EXPECT_EQ(trimmed("\x80 "), "\x80") << "invalid bytes are kept";
}

}  // namespace
}  // namespace quaylet
