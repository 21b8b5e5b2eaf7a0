// The user cancels a pull-request launch at each of its stages, through the application
// state driving the real core against the loopback service and the stand-in tools.
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <filesystem>
#include <memory>

#include "LaunchRoad.h"
#include "feature/AppState.h"
#include "feature/CorePreviewService.h"
#include "feature/CoreSimulatorService.h"

namespace quaylet::testing {
namespace {

using namespace std::chrono_literals;

// The token is not what these tests are about: kept in memory.
class TokenInMemory : public TokenStore {
  public:
    std::optional<std::string> readToken() override { return token_; }
    void saveToken(const std::string& token) override { token_ = token; }
    void removeToken() override { token_.reset(); }

  private:
    std::optional<std::string> token_ = LaunchRoadTest::kToken;
};

// Runs the event loop until done, with a generous bound against a hang.
bool waitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(120s);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

// Where the user cancels: as the state shows a stage, or (the one-second wait) once the app
// has been launched and before it is checked.
struct CancelPoint {
    const char* name;
    LaunchStage stage;
    bool afterTheAppLaunched = false;
};

std::ostream& operator<<(std::ostream& stream, const CancelPoint& point) {
    return stream << point.name;
}

class CancellationTest : public LaunchRoadTest, public ::testing::WithParamInterface<CancelPoint> {
  protected:
    std::unique_ptr<AppState> makeState(const DeveloperTools& tools) {
        return std::make_unique<AppState>(
            QUrl(QString::fromStdString(service.baseURL())),
            AppState::Collaborators{
                std::make_shared<CorePreviewService>(launcherWith(tools)),
                std::make_shared<CoreSimulatorService>(CoreSimulatorService::forThisHost()),
                std::make_shared<TokenInMemory>(), Settings(scratch.path() / "settings.json"),
                PendingSignIn(scratch.path() / "pending-sign-in")});
    }
};

TEST_P(CancellationTest, ReturnsToIdleSilentlyAndLeavesNothingBehind) {
    const CancelPoint& point = GetParam();
    const Signpost launched(scratch.path() / "launched");
    ScriptedTools folder;
    const std::string realTool = (DeveloperTools::forThisHost().directory() / "xcrun").string();
    const DeveloperTools tools =
        point.afterTheAppLaunched
            ? toolsWithFault(folder, "xcrun", "launch",
                             "'" + realTool + "' \"$@\" || exit $?\necho launched > '" +
                                 launched.path().string() + "'\nexit 0")
            : DeveloperTools::forThisHost();
    const auto state = makeState(tools);

    bool cancelled = false;
    int lateWrites = 0;
    const auto cancelAt = [&] {
        if (!cancelled && state->stage() == point.stage && !point.afterTheAppLaunched) {
            state->cancelLaunch();
            cancelled = true;
        }
    };
    const auto countLateWrite = [&] { lateWrites += cancelled ? 1 : 0; };
    QObject::connect(state.get(), &AppState::stageChanged, [&] {
        countLateWrite();
        cancelAt();
    });
    for (const auto changed :
         {&AppState::activeDetailChanged, &AppState::errorMessageChanged, &AppState::reportChanged,
          &AppState::activePreviewChanged, &AppState::activeAppNameChanged}) {
        QObject::connect(state.get(), changed, countLateWrite);
    }

    const QFuture<void> finished = state->receive(QUrl(kPreviewLink));
    if (point.afterTheAppLaunched) {
        // The launcher waits for the state to show each stage, so the loop runs until then.
        ASSERT_TRUE(waitFor([&] { return state->stage() == LaunchStage::launching; }));
        ASSERT_EQ(launched.awaitLine(), "launched");
        ASSERT_EQ(state->stage(), LaunchStage::launching);
        state->cancelLaunch();
        cancelled = true;
    }
    ASSERT_TRUE(waitFor([&] { return finished.isFinished(); }))
        << "the cancelled launch never ended";

    EXPECT_TRUE(cancelled) << "the launch never reached " << point.name;
    EXPECT_EQ(state->stage(), LaunchStage::idle);
    EXPECT_EQ(state->activeDetail(), "Build canceled");
    EXPECT_EQ(state->errorMessage(), std::nullopt);
    EXPECT_EQ(state->report(), std::nullopt);
    EXPECT_EQ(lateWrites, 0) << "a report of the cancelled launch reached the state";
    expectCleanMachineAndWorkingNextLaunch();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStage, CancellationTest,
    ::testing::Values(CancelPoint{"Fetching", LaunchStage::fetching, false},
                      CancelPoint{"Downloading", LaunchStage::downloading, false},
                      CancelPoint{"Verifying", LaunchStage::verifying, false},
                      CancelPoint{"Extracting", LaunchStage::extracting, false},
                      CancelPoint{"Selecting", LaunchStage::selecting, false},
                      CancelPoint{"Booting", LaunchStage::booting, false},
                      CancelPoint{"Installing", LaunchStage::installing, false},
                      CancelPoint{"Launching", LaunchStage::launching, false},
                      CancelPoint{"TheOneSecondWait", LaunchStage::launching, true}),
    [](const ::testing::TestParamInfo<CancelPoint>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quaylet::testing
