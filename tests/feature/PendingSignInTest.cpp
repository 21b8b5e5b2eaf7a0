#include "feature/PendingSignIn.h"

#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>

namespace quaylet {
namespace {

using namespace std::chrono_literals;

class PendingSignInTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory folder;
    std::filesystem::path file = folder.path() / "state" / "pending-sign-in";
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
    PendingSignIn pending{file, [this] { return now; }};
};

TEST_F(PendingSignInTest, NothingRecordedMeansNothingPending) {
    EXPECT_FALSE(pending.consume());
}

TEST_F(PendingSignInTest, ServesOneLinkWithinItsLifetime) {
    struct Case {
        std::chrono::system_clock::duration age;
        bool accepted;
    };
    const Case cases[] = {
        {0s, true}, {14min + 59s, true}, {15min, false}, {2h, false}, {-1min, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::chrono::duration_cast<std::chrono::seconds>(c.age).count());
        const auto startedAt = now;
        pending.record();
        now = startedAt + c.age;
        EXPECT_EQ(pending.consume(), c.accepted);
        EXPECT_FALSE(pending.consume()) << "a mark serves one link only";
        now = startedAt;
    }
}

TEST_F(PendingSignInTest, AnotherProcessObjectSeesTheSameMark) {
    pending.record();
    PendingSignIn other(file, [this] { return now + 1min; });
    EXPECT_TRUE(other.consume());
    EXPECT_FALSE(pending.consume());
}

TEST_F(PendingSignInTest, AGarbledMarkIsRefusedAndRemoved) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "soon";
    EXPECT_FALSE(pending.consume());
    EXPECT_TRUE(std::filesystem::is_empty(file.parent_path()));
}

TEST(PendingSignInLocationTest, FollowsTheStateBaseDirectory) {
    testing::TemporaryDirectory home;
    testing::ScopedEnvironment state("XDG_STATE_HOME", home.path().string());
    EXPECT_EQ(PendingSignIn::defaultFile(), home.path() / "quaylet" / "pending-sign-in");
}

}  // namespace
}  // namespace quaylet
