#include "feature/PendingSignIn.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using namespace std::chrono_literals;

// Another object, as in another process, sees the same mark; each mark serves one link.
TEST(PendingSignInTest, ServesOneLinkWithinItsLifetime) {
    const testing::TemporaryDirectory folder;
    const std::filesystem::path file = folder.path() / "state" / "pending-sign-in";
    // Whole milliseconds, as the mark stores them, so that the lifetime's end is met exactly.
    const auto now =
        std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    const PendingSignIn pending(file, [&] { return now; });
    EXPECT_FALSE(pending.consume()) << "nothing recorded";
    const std::pair<std::chrono::system_clock::duration, bool> cases[] = {
        {0s, true}, {14min + 59s, true}, {15min, false}, {-1min, false}};
    for (const auto& [age, accepted] : cases) {
        SCOPED_TRACE(std::chrono::duration_cast<std::chrono::seconds>(age).count());
        pending.record();
        EXPECT_EQ(PendingSignIn(file, [&] { return now + age; }).consume(), accepted);
        EXPECT_FALSE(pending.consume());
    }
    std::ofstream(file) << "soon";
    EXPECT_FALSE(pending.consume());
    EXPECT_TRUE(std::filesystem::is_empty(file.parent_path())) << "the garbled mark is gone";
}

}  // namespace
}  // namespace quaylet
