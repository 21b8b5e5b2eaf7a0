// The user cancels a pull-request launch at each of its stages, through the application
// state driving the real core against the loopback service and the stand-in tools.
#include <memory>

#include "LaunchRoad.h"
#include "doubles/AppStateDoubles.h"
#include "feature/AppState.h"
#include "feature/CorePreviewService.h"
#include "feature/CoreSimulatorService.h"
#include "qtcore/EventLoop.h"

namespace quaylet::testing {
namespace {

// Where the user cancels: as the state shows a stage, or (the one-second wait) once the app
// has been launched and before it is checked.
struct CancelPoint {
    const char* name;
    LaunchStage stage;
    bool afterTheAppLaunched = false;
};

class CancellationTest : public LaunchRoadTest,
                         public ::testing::WithParamInterface<CancelPoint> {};

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
    const auto tokens = std::make_shared<FakeTokenStore>();
    tokens->token = kToken;
    const auto state = std::make_unique<AppState>(
        QUrl(QString::fromStdString(service.baseURL())),
        AppState::Collaborators{
            std::make_shared<CorePreviewService>(launcherWith(tools)),
            std::make_shared<CoreSimulatorService>(CoreSimulatorService::forThisHost()), tokens,
            Settings(scratch.path() / "settings.json"),
            PendingSignIn(scratch.path() / "pending-sign-in")});

    bool cancelled = false;
    int lateWrites = 0;
    const auto countLateWrite = [&] { lateWrites += cancelled ? 1 : 0; };
    QObject::connect(state.get(), &AppState::stageChanged, [&] {
        countLateWrite();
        if (!cancelled && !point.afterTheAppLaunched && state->stage() == point.stage) {
            state->cancelLaunch();
            cancelled = true;
        }
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
    ASSERT_TRUE(waitFor(finished)) << "the cancelled launch never ended";

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
