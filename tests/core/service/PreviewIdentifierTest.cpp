#include "core/service/PreviewIdentifier.h"

#include <gtest/gtest.h>

#include <utility>

namespace quaylet {
namespace {

// Whatever the service sent as an identifier stays one path component of the link.
TEST(PreviewIdentifierTest, LinkPercentEncodesAllButUnreservedCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"pr-42.a_b~C", "quaylet://preview/pr-42.a_b~C"},
        {"owner/repo?ref=main#x", "quaylet://preview/owner%2Frepo%3Fref%3Dmain%23x"},
        {"caf\xC3\xA9 %..", "quaylet://preview/caf%C3%A9%20%25.."},
    };
    for (const auto& [identifier, link] : cases) {
        EXPECT_EQ(previewLink(identifier), link);
    }
}

}  // namespace
}  // namespace quaylet
