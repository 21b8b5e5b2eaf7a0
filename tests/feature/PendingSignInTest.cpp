#include "feature/PendingSignIn.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using namespace std::chrono_literals;

class PendingSignInTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory folder;
    std::filesystem::path file = folder.path() / "state" / "pending-sign-in";
    // Whole milliseconds, as the mark stores them, so that the lifetime's end is met exactly.
    std::chrono::system_clock::time_point now =
        std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
    PendingSignIn pending{file, [this] { return now; }};
};

TEST_F(PendingSignInTest, ServesOneLinkWithinItsLifetime) {
    EXPECT_FALSE(pending.consume()) << "nothing recorded";
    const std::pair<std::chrono::system_clock::duration, bool> cases[] = {
        {0s, true}, {14min + 59s, true}, {15min, false}, {2h, false}, {-1min, false}};
    for (const auto& [age, accepted] : cases) {
        SCOPED_TRACE(std::chrono::duration_cast<std::chrono::seconds>(age).count());
        pending.record();
        // Another object, as in another process, sees the same mark.
        EXPECT_EQ(PendingSignIn(file, [&] { return now + age; }).consume(), accepted);
        EXPECT_FALSE(pending.consume()) << "a mark serves one link only";
    }
}

TEST_F(PendingSignInTest, AGarbledMarkIsRefusedAndRemoved) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "soon";
    EXPECT_FALSE(pending.consume());
    EXPECT_TRUE(std::filesystem::is_empty(file.parent_path()));
}

}  // namespace
}  // namespace quaylet
