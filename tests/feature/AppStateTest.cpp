#include <atomic>
#include <fstream>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "feature/StateHarness.h"

namespace quaylet::testing {
namespace {

using namespace std::chrono_literals;

const std::string kIncompleteLink =
    "This Quaylet link is incomplete. Open the latest link from the pull request.";
const std::string kSignInLinkExpired =
    "This sign-in link has expired. Choose Sign in with GitHub, then try again.";
const std::string kSignInRequired = "Sign in with GitHub to open this private build.";

using AppStateTest = StateHarness;

TEST_F(AppStateTest, APreviewLinkRunsTheBuildAndShowsEachReport) {
    std::ofstream(settingsFile) << R"({"preferredSimulatorUDID": "", "activateSimulator": "no"})";
    std::optional<LaunchCall> seen;
    service->onLaunch = [&](const LaunchCall& call) {
        seen.emplace(call);
        call.progress(RemoteLaunchStage::fetching);
        call.manifest(makeManifest("Demo", "0123456789abcdef"));
        for (const auto stage : {RemoteLaunchStage::downloading, RemoteLaunchStage::installing,
                                 RemoteLaunchStage::running}) {
            call.progress(stage);
        }
        return makeReport("Demo App", "iPhone 15");
    };
    AppState& app = makeState();
    std::vector<std::optional<std::string>> details;
    QObject::connect(&app, &AppState::activeDetailChanged,
                     [&] { details.push_back(app.activeDetail()); });
    QSignalSpy progressChanges(&app, &AppState::isLaunchInProgressChanged);

    const QFuture<void> launch = app.receive(QUrl("quaylet://preview/abc123/extra?x=1"));
    EXPECT_EQ(app.receivedPreviewID(), "abc123");
    EXPECT_EQ(app.activeAppName(), "Pull request build");
    ASSERT_TRUE(waitFor(launch));

    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->previewID, "abc123");
    EXPECT_EQ(seen->token, "stored-token");
    EXPECT_EQ(seen->preferredSimulatorUDID, std::nullopt) << "an empty UDID means automatic";
    EXPECT_TRUE(seen->activateSimulator) << "a string is not a boolean, so it counts as true";
    EXPECT_EQ(stages, (std::vector{LaunchStage::fetching, LaunchStage::downloading,
                                   LaunchStage::installing, LaunchStage::running}));
    EXPECT_EQ(progressChanges.count(), 2) << "on at fetching, off at running";
    EXPECT_EQ(details, (std::vector<std::optional<std::string>>{
                           "octo/app \u00B7 PR #42 \u00B7 0123456", "Running in iPhone 15"}));
    EXPECT_EQ(app.activeAppName(), "Demo App");
    EXPECT_EQ(app.activePreview().value_or(PreviewManifest()).displayName, "Demo");
    EXPECT_EQ(app.report(), makeReport("Demo App", "iPhone 15"));
    EXPECT_FALSE(app.errorMessage());
    EXPECT_EQ(app.property("report").toMap().value("app").toMap().value("displayName"), "Demo App");
}

// A launch that ends in cancellation the user did not ask for shows nothing either.
TEST_F(AppStateTest, TheManifestDetailNamesRepositoryPullRequestAndShortCommit) {
    Latch release;
    service->onLaunch = [&](const LaunchCall& call) -> SelfTestReport {
        call.manifest(makeManifest("Demo", "abc"));
        release.wait(call.stop);
        throw CancellationError();
    };
    AppState& app = makeState();
    const QFuture<void> launch = app.open("some-build");
    ASSERT_TRUE(waitFor([&] { return app.activePreview().has_value(); }));
    EXPECT_EQ(app.activeDetail(), "octo/app \u00B7 PR #42 \u00B7 abc");
    release.open();
    ASSERT_TRUE(waitFor(launch));
    EXPECT_EQ(app.stage(), LaunchStage::idle);
    EXPECT_FALSE(app.errorMessage()) << "cancellation is never shown";
}

TEST_F(AppStateTest, UnusableLinksOnlySetTheMessageOnce) {
    AppState& app = makeState();
    QSignalSpy errorChanges(&app, &AppState::errorMessageChanged);
    for (const char* link : {"quaylet://preview/", "quaylet://auth?code=", "https://x/preview/a"}) {
        app.receive(QUrl(link));
        EXPECT_EQ(app.errorMessage(), kIncompleteLink) << link;
    }
    EXPECT_EQ(errorChanges.count(), 1) << "equal writes notify nobody";
    EXPECT_TRUE(service->launchedPreviews().empty());
}

TEST_F(AppStateTest, ASignInLinkIsHonouredOnlyForOnePendingSignIn) {
    tokens->token.reset();
    AppState& app = makeState();
    app.receive(QUrl("quaylet://auth?code=planted"));
    EXPECT_EQ(app.errorMessage(), kSignInLinkExpired) << "no sign-in was started here";

    EXPECT_EQ(app.beginSignIn(),
              QUrl("https://previews.example.com/api/v1/auth/github?client=mac"));
    now += 15min;
    app.receive(QUrl("quaylet://auth?code=late"));
    EXPECT_EQ(app.errorMessage(), kSignInLinkExpired) << "the pending sign-in has expired";

    app.beginSignIn();
    ASSERT_TRUE(waitFor(app.receive(QUrl("quaylet://auth?state=s&code=c1&code=c2"))));
    app.receive(QUrl("quaylet://auth?code=replayed"));
    EXPECT_EQ(service->exchangedCodes(), std::vector<std::string>{"c1"});
    EXPECT_EQ(tokens->token, "issued-token");
    EXPECT_TRUE(app.isSignedIn());
    EXPECT_EQ(app.errorMessage(), kSignInLinkExpired) << "the second link found nothing pending";
}

TEST_F(AppStateTest, ABuildAskedForWhileSignedOutStartsAfterSignIn) {
    tokens->token.reset();
    service->previews = {makeSummary("abc123", "Demo")};
    service->onLaunch = [](const LaunchCall& call) {
        call.progress(RemoteLaunchStage::running);
        return makeReport("Demo", "iPhone 15");
    };
    AppState& app = makeState();
    EXPECT_TRUE(waitFor(app.receive(QUrl("quaylet://preview/abc123"))));
    EXPECT_EQ(app.activeDetail(), "Sign in once to open this private build");
    EXPECT_EQ(app.stage(), LaunchStage::idle);

    app.beginSignIn();
    const QFuture<void> signIn = app.receive(QUrl("quaylet://auth?code=c1"));
    EXPECT_EQ(app.activeDetail(), "Finishing GitHub sign-in");
    ASSERT_TRUE(waitFor(signIn));
    EXPECT_EQ(app.builds(), service->previews) << "sign-in waits for the builds list";
    // The resumed launch runs on a worker of its own, alongside the builds list.
    ASSERT_TRUE(waitFor([&] { return app.stage() == LaunchStage::running; }));
    EXPECT_EQ(service->launchedPreviews(), std::vector<std::string>{"abc123"});
}

TEST_F(AppStateTest, ASignInWhoseTokenCannotBeStoredStaysSignedOut) {
    tokens->token.reset();
    tokens->failSaving = true;
    AppState& app = makeState();
    app.beginSignIn();
    ASSERT_TRUE(waitFor(app.receive(QUrl("quaylet://auth?code=c1"))));
    EXPECT_FALSE(app.isSignedIn());
    EXPECT_EQ(app.activeDetail(), "GitHub sign-in failed");
    EXPECT_EQ(app.errorMessage(),
              "Quaylet couldn\u2019t save your GitHub sign-in. Unlock Keychain, then try again.");
}

// A worker that ends after the state has gone must find nothing to write to: a launch, and a
// sign-in still waiting for its builds list.
TEST_F(AppStateTest, WorkThatOutlivesTheStateWritesNothing) {
    for (const bool signingIn : {false, true}) {
        SCOPED_TRACE(signingIn ? "ASignInOutlivedByItsBuildsListEndsQuietly" : "a launch");
        tokens->token = signingIn ? std::nullopt : std::optional<std::string>("stored-token");
        std::atomic<bool> entered = false;
        Latch release;
        service->onList = [&] {
            if (signingIn) {
                entered = true;
                release.wait();
            }
        };
        service->onLaunch = [&](const LaunchCall& call) {
            entered = true;
            release.wait();
            call.progress(RemoteLaunchStage::running);  // the state is gone by now
            return makeReport("Demo", "iPhone");
        };
        AppState& app = makeState();
        app.beginSignIn();
        const QFuture<void> work =
            signingIn ? app.receive(QUrl("quaylet://auth?code=c1")) : app.open("abc");
        ASSERT_TRUE(waitFor([&] { return entered.load(); }));
        state.reset();
        release.open();
        EXPECT_TRUE(waitFor(work));
    }
}

TEST_F(AppStateTest, ANewLaunchSilencesTheOneItReplaces) {
    Latch releaseFirst, releaseSecond;
    service->onLaunch = [&](const LaunchCall& call) -> SelfTestReport {
        if (call.previewID == "first") {
            call.manifest(makeManifest("First", "1111111"));
            releaseFirst.wait(call.stop);  // ends when the second launch stops this one
            call.progress(RemoteLaunchStage::installing);
            call.manifest(makeManifest("Late", "2222222"));
            throw std::runtime_error("transfer aborted");
        }
        releaseSecond.wait(call.stop);
        call.progress(RemoteLaunchStage::running);
        return makeReport("Second", "iPad");
    };
    AppState& app = makeState();
    const QFuture<void> first = app.open("first");
    ASSERT_TRUE(waitFor([&] { return app.activePreview().has_value(); }));

    const QFuture<void> second = app.open("second");
    EXPECT_FALSE(app.activePreview()) << "the new launch starts from a clean slate";
    ASSERT_TRUE(waitFor(first));
    EXPECT_EQ(app.stage(), LaunchStage::fetching);
    EXPECT_EQ(app.activeAppName(), "Pull request build");
    EXPECT_FALSE(app.activePreview());
    EXPECT_FALSE(app.errorMessage());

    releaseSecond.open();
    ASSERT_TRUE(waitFor(second));
    EXPECT_EQ(app.activeDetail(), "Running in iPad");
    EXPECT_EQ(stages, (std::vector{LaunchStage::fetching, LaunchStage::running}))
        << "the stage never drops to idle between the two launches";
}

TEST_F(AppStateTest, CancellingKeepsBuildCanceledAgainstLateReports) {
    service->onLaunch = [&](const LaunchCall& call) {
        call.progress(RemoteLaunchStage::downloading);
        Latch().wait(call.stop);  // only cancellation ends this launch
        call.progress(RemoteLaunchStage::running);
        call.manifest(makeManifest("Late", "3333333"));
        return makeReport("Late", "iPhone");
    };
    AppState& app = makeState();
    EXPECT_TRUE(app.runReceivedPreview().isFinished()) << "nothing received yet";

    const QFuture<void> started = app.receive(QUrl("quaylet://preview/abc"));
    ASSERT_TRUE(waitFor([&] { return app.stage() == LaunchStage::downloading; }));
    app.cancelLaunch();
    EXPECT_EQ(app.stage(), LaunchStage::idle);
    ASSERT_TRUE(waitFor(started));
    EXPECT_EQ(app.stage(), LaunchStage::idle);
    EXPECT_EQ(app.activeDetail(), "Build canceled");
    EXPECT_FALSE(app.report());
    EXPECT_FALSE(app.activePreview());

    QSignalSpy anyStage(&app, &AppState::stageChanged);
    app.cancelLaunch();  // idle: nothing to cancel
    EXPECT_EQ(anyStage.count(), 0);
}

TEST_F(AppStateTest, ARefusedTokenSignsOutAndShowsWhy) {
    service->onLaunch = [](const LaunchCall&) -> SelfTestReport {
        throw QuayletError::authenticationRequired();
    };
    ASSERT_TRUE(waitFor(makeState().open("abc")));
    EXPECT_EQ(state->stage(), LaunchStage::idle);
    EXPECT_EQ(state->errorMessage(), kSignInRequired);
    EXPECT_FALSE(state->isSignedIn());
    EXPECT_FALSE(tokens->token);

    tokens->token = "stored-token";
    service->previews = {makeSummary("a", "A"), makeSummary("b", "B")};
    AppState& app = makeState();
    QSignalSpy loading(&app, &AppState::isLoadingBuildsChanged);
    ASSERT_TRUE(waitFor(app.refreshBuilds()));
    EXPECT_EQ(loading.count(), 2);
    service->listFailure = std::make_exception_ptr(QuayletError::authenticationRequired());
    ASSERT_TRUE(waitFor(app.refreshBuilds()));
    EXPECT_EQ(app.builds(), service->previews) << "a failure keeps the list";
    EXPECT_EQ(app.buildsError(), kSignInRequired);
    EXPECT_FALSE(app.isSignedIn());
    EXPECT_TRUE(app.refreshBuilds().isFinished());
    EXPECT_TRUE(app.builds().empty()) << "no token empties the list";
    EXPECT_FALSE(app.isLoadingBuilds());
}

TEST_F(AppStateTest, ALocalLaunchInspectsThenSelectsAndIgnoresRemoteStages) {
    simulator->reportedStages = {RemoteLaunchStage::downloading, RemoteLaunchStage::booting,
                                 RemoteLaunchStage::installing, RemoteLaunchStage::launching,
                                 RemoteLaunchStage::running};
    simulator->result = makeReport("Demo", "iPhone 15");
    AppState& app = makeState();
    const QFuture<void> launch =
        app.runLocalApplication(QUrl::fromLocalFile("/builds/Demo.app/"), QString(), true);
    EXPECT_EQ(app.activeAppName(), "Demo");
    EXPECT_EQ(app.activeDetail(), "Testing a local iOS build");
    EXPECT_EQ(app.launchSource(), LaunchSource::local);
    app.cancelLaunch();  // a local launch cannot be cancelled
    ASSERT_TRUE(waitFor(launch));
    EXPECT_EQ(stages,
              (std::vector{LaunchStage::inspecting, LaunchStage::selecting, LaunchStage::booting,
                           LaunchStage::installing, LaunchStage::launching, LaunchStage::running}));
    EXPECT_EQ(app.activeDetail(), "Running in iPhone 15");

    simulator->result.reset();
    ASSERT_TRUE(waitFor(app.runLocalApplication(QUrl::fromLocalFile("/b/Demo.app"), "X", false)));
    EXPECT_EQ(app.stage(), LaunchStage::idle);
    EXPECT_EQ(app.errorMessage(),
              "The app couldn\u2019t be installed. Restart Simulator, then try again.");
    EXPECT_FALSE(app.report());
}

TEST_F(AppStateTest, AFailedSignOutKeepsTheToken) {
    service->revokeFailure = std::make_exception_ptr(QuayletError::serviceError(
        500, "GitHub sign-out failed. Check your connection, then try again."));
    AppState& app = makeState();
    ASSERT_TRUE(waitFor(app.signOut()));
    EXPECT_EQ(tokens->token, "stored-token");
    EXPECT_EQ(app.activeDetail(), "GitHub sign-out failed");
    EXPECT_EQ(app.errorMessage(), "GitHub sign-out failed. Check your connection, then try again.");

    service->revokeFailure = nullptr;
    ASSERT_TRUE(waitFor(app.signOut()));
    EXPECT_FALSE(app.isSignedIn());
    EXPECT_FALSE(tokens->token);
    EXPECT_EQ(app.activeDetail(), "Signed out");
    EXPECT_FALSE(app.errorMessage());
    EXPECT_TRUE(app.signOut().isFinished()) << "without a token the service is not asked";
}

TEST_F(AppStateTest, TheDownloadShowsItsBytesUntilTheNextStage) {
    service->onLaunch = [&](const LaunchCall& call) {
        EXPECT_EQ(call.cacheLimitBytes, 20'000'000'000u) << "the default limit";
        call.progress(RemoteLaunchStage::downloading);
        call.download(50'000'000, 100'000'000);
        call.download(100'000'000, 100'000'000);  // the last report always gets through
        call.progress(RemoteLaunchStage::verifying);
        return makeReport("Demo App", "iPhone 15");
    };
    AppState& app = makeState();
    std::vector<QVariant> details;
    QObject::connect(&app, &AppState::downloadProgressChanged,
                     [&] { details.push_back(app.property("downloadDetail")); });
    ASSERT_TRUE(waitFor(app.open("abc123")));
    EXPECT_EQ(details, (std::vector<QVariant>{QString("50 MB of 100 MB"),
                                              QString("100 MB of 100 MB"), QVariant()}));
    EXPECT_EQ(app.downloadedBytes(), 0) << "cleared when the stage moves on";
}

TEST_F(AppStateTest, TheCacheIsCountedPrunedToItsLimitAndRidOfWithdrawnBuilds) {
    service->cached = {{"a", "/cache/a/1", 1'500, std::nullopt}};
    service->previews = {makeSummary("a", "A"), makeSummary("b", "B")};
    service->previews[1].status = "expired";
    AppState& app = makeState();
    EXPECT_EQ(app.property("cacheSize"), QVariant()) << "not counted yet";
    ASSERT_TRUE(waitFor(app.refreshBuilds()));
    ASSERT_TRUE(waitFor([&] { return app.cacheSize().has_value(); }));
    EXPECT_EQ(service->removedPreviews, std::vector<std::string>{"b"});
    EXPECT_EQ(app.property("cacheSize"), QString("1.5 KB"));

    ASSERT_TRUE(waitFor(app.setCacheLimit(5)));    // lowered: applied now
    ASSERT_TRUE(waitFor(app.setCacheLimit(7.5)));  // raised: nothing to remove
    ASSERT_TRUE(waitFor(app.pruneCache()));
    EXPECT_EQ(service->trimmedTo, (std::vector<std::uintmax_t>{5'000'000'000, 7'500'000'000}));
    EXPECT_EQ(app.property("cacheLimitGB"), 7.5);
    EXPECT_FALSE(app.errorMessage());

    ASSERT_TRUE(waitFor(app.setCacheLimit(-1)));
    EXPECT_EQ(app.errorMessage(), "cacheLimitGB takes a number of gigabytes from 0 up.");
    EXPECT_EQ(app.cacheLimitGB(), 7.5);
}

TEST_F(AppStateTest, ClearingTheCacheDuringALaunchStopsItFirst) {
    Latch letStoppedLaunchEnd;
    std::atomic<bool> launchEnded = false;
    std::atomic<bool> launchEndedBeforeClearing = false;
    service->onLaunch = [&](const LaunchCall& call) -> SelfTestReport {
        call.progress(RemoteLaunchStage::downloading);
        Latch().wait(call.stop);
        letStoppedLaunchEnd.wait();  // a launch that is slow to notice the stop
        call.progress(RemoteLaunchStage::verifying);
        launchEnded = true;
        throw CancellationError();
    };
    service->onClearCache = [&] { launchEndedBeforeClearing = launchEnded.load(); };
    AppState& app = makeState();
    const QFuture<void> launch = app.open("abc");
    ASSERT_TRUE(waitFor([&] { return app.stage() == LaunchStage::downloading; }));

    const QFuture<void> clear = app.clearDownloadCache();
    EXPECT_EQ(app.stage(), LaunchStage::idle);
    letStoppedLaunchEnd.open();
    ASSERT_TRUE(waitFor(clear));
    EXPECT_TRUE(launch.isFinished());
    EXPECT_TRUE(launchEndedBeforeClearing);
    EXPECT_EQ(app.stage(), LaunchStage::idle);
    EXPECT_EQ(app.activeDetail(), "Downloaded builds cleared") << "not \"Build canceled\"";

    service->clearFailure = std::make_exception_ptr(std::runtime_error("Permission denied"));
    ASSERT_TRUE(waitFor(app.clearDownloadCache()));
    EXPECT_EQ(app.errorMessage(), "Permission denied");
}

TEST_F(AppStateTest, DiagnosticsClearTheLastErrorAndKeepTheSnapshot) {
    simulator->snapshot.architecture = "arm64";
    AppState& app = makeState(QUrl("http://127.0.0.1:8080/base/?x=1"));
    EXPECT_EQ(app.signInURL(), QUrl("http://127.0.0.1:8080/api/v1/auth/github?client=mac"))
        << "only the base's origin is kept";
    app.receive(QUrl("quaylet://nowhere"));
    ASSERT_TRUE(app.errorMessage());

    QSignalSpy checking(&app, &AppState::isCheckingEnvironmentChanged);
    const QFuture<void> check = app.runDiagnostics();
    EXPECT_TRUE(app.isCheckingEnvironment());
    EXPECT_FALSE(app.errorMessage());
    ASSERT_TRUE(waitFor(check));
    EXPECT_EQ(checking.count(), 2);
    EXPECT_EQ(app.environment(), simulator->snapshot);
    EXPECT_EQ(app.property("environment").toMap().value("architecture"), "arm64");
}

TEST_F(AppStateTest, OnlyTheCallerChoosesDevicesAndLaunchOptions) {
    service->onLaunch = [](const LaunchCall&) { return makeReport("Demo", "iPhone"); };
    AppState& app = makeState();
    ASSERT_TRUE(waitFor(app.receive(
        QUrl("quaylet://preview/abc?simulator=U9&launch-arg=-x&env=A%3D1&open-url=evil://x"))));
    const LaunchTargets named{
        .simulatorUDIDs = {"U1", "U2"},
        .options = {.arguments = {"-x"}, .environment = {{"A", "1"}}, .openURL = "demo://home"}};
    ASSERT_TRUE(waitFor(app.receive(QUrl("quaylet://preview/abc"), named)));

    const auto launches = service->requestedLaunches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[0].targets, LaunchTargets()) << "a link's query chooses nothing";
    EXPECT_EQ(launches[1].targets, named);
    ASSERT_EQ(app.deviceOutcomes().size(), 2u);
    EXPECT_EQ(app.deviceOutcomes()[1].udid, "U2");
}

TEST_F(AppStateTest, TheRunningBuildOpensOnAnotherSimulatorAndTakesLinks) {
    SelfTestReport local = makeReport("Demo", "iPhone 15");
    local.app.appURL = "/unpacked/Demo.app";
    local.simulator.udid = "U1";
    simulator->result = local;
    simulator->snapshot = makeReadyEnvironment({makeDevice("U2", "iPad Air", "18.2")});
    AppState& app = makeState();
    EXPECT_TRUE(waitFor(app.openURLInApp("demo://home"))) << "nothing runs yet: nothing to do";
    ASSERT_TRUE(waitFor(app.runDiagnostics()));
    ASSERT_TRUE(waitFor(app.runLocalApplication(QUrl::fromLocalFile("/b/Demo.app"), "", false)));

    const QFuture<void> again = app.runOnSimulator("U2");
    EXPECT_EQ(app.activeDetail(), "Opening in iPad Air");
    EXPECT_FALSE(app.report());
    ASSERT_TRUE(waitFor(again));
    const auto runs = simulator->requestedLaunches();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1], (RequestedLaunch{
                           "/unpacked/Demo.app", std::nullopt, true, {.simulatorUDIDs = {"U2"}}}))
        << "the unpacked copy, on exactly that device";
    EXPECT_EQ(app.report().value_or(SelfTestReport()).simulator.udid, "U2");

    ASSERT_TRUE(waitFor(app.openURLInApp("demo://home")));
    EXPECT_FALSE(app.errorMessage());
    ASSERT_TRUE(waitFor(app.openURLInApp("home")));
    EXPECT_TRUE(app.errorMessage()) << "a relative link is refused with a message";
    EXPECT_EQ(simulator->openedURLs(),
              (std::vector<std::pair<std::string, std::string>>{{"U2", "demo://home"}}));
}

}  // namespace
}  // namespace quaylet::testing
