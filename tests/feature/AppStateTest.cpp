#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/support/UserDirectories.h"
#include "feature/StateHarness.h"

namespace quaylet::testing {
namespace {

const std::string kSignInLinkExpired =
    "This sign-in link has expired. Choose Sign in with GitHub, then try again.";

using AppStateTest = StateHarness;

// A build asked for while signed out starts once a sign-in completes; a sign-in whose token
// cannot be stored stays signed out.
TEST_F(AppStateTest, ASignInLinkIsHonouredOnlyForOnePendingSignIn) {
    tokens->token.reset();
    service->previews = {makeSummary("abc123", "Demo")};
    service->onLaunch = [](const LaunchCall& call) {
        call.progress(RemoteLaunchStage::running);
        return makeReport("Demo", "iPhone 15");
    };
    AppState& app = makeState();
    app.launch().receive(QUrl("quaylet://auth?code=planted"));
    EXPECT_EQ(app.launch().errorMessage(), kSignInLinkExpired) << "no sign-in was started here";

    tokens->failSaving = true;
    app.account().beginSignIn();
    ASSERT_TRUE(waitFor(app.launch().receive(QUrl("quaylet://auth?code=c0"))));
    EXPECT_FALSE(app.account().isSignedIn());
    EXPECT_EQ(app.launch().activeDetail(), "GitHub sign-in failed");
    EXPECT_EQ(app.launch().errorMessage(),
              "Quaylet couldn\u2019t save your GitHub sign-in. Unlock Keychain, then try again.");

    tokens->failSaving = false;
    EXPECT_TRUE(waitFor(app.launch().receive(QUrl("quaylet://preview/abc123"))));
    EXPECT_EQ(app.launch().stage(), LaunchStage::idle);
    app.account().beginSignIn();
    const QFuture<void> signIn =
        app.launch().receive(QUrl("quaylet://auth?state=s&code=c1&code=c2"));
    EXPECT_EQ(app.launch().activeDetail(), "Finishing GitHub sign-in");
    ASSERT_TRUE(waitFor(signIn));
    EXPECT_EQ(app.buildsList().builds(), service->previews) << "sign-in waits for the builds list";
    // The resumed launch runs on a worker of its own, alongside the builds list.
    ASSERT_TRUE(waitFor([&] { return app.launch().stage() == LaunchStage::running; }));
    EXPECT_EQ(service->launchedPreviews(), std::vector<std::string>{"abc123"});
    app.launch().receive(QUrl("quaylet://auth?code=replayed"));
    EXPECT_EQ(service->exchangedCodes(), (std::vector<std::string>{"c0", "c1"}));
    EXPECT_EQ(tokens->token, "issued-token");
    EXPECT_EQ(app.launch().errorMessage(), kSignInLinkExpired)
        << "the second link found nothing pending";
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
    EXPECT_TRUE(app.launch().runReceivedPreview().isFinished()) << "nothing received yet";

    const QFuture<void> started = app.launch().receive(QUrl("quaylet://preview/abc"));
    ASSERT_TRUE(waitFor([&] { return app.launch().stage() == LaunchStage::downloading; }));
    app.launch().cancelLaunch();
    ASSERT_TRUE(waitFor(started));
    EXPECT_EQ(app.launch().stage(), LaunchStage::idle);
    EXPECT_EQ(app.launch().activeDetail(), "Build canceled");
    EXPECT_FALSE(app.launch().report());
    EXPECT_FALSE(app.launch().activePreview());
}

// One fraction for every bar: the stage's, filled through the download's share as the bytes
// arrive (reports 150 ms apart pass the pacer), held when the download starts over. "Open on
// another Simulator…" on that build is then a launch of it, not of a local build.
TEST_F(AppStateTest, LaunchProgressNeverGoesBackAndAnotherSimulatorRelaunchesTheBuild) {
    service->onLaunch = [](const LaunchCall& call) {
        if (call.manifest) {  // not a relaunch
            call.manifest(makeManifest("Demo", "1234567"));
            call.progress(RemoteLaunchStage::downloading);
            for (const std::int64_t received : {50, 10, 100}) {
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                call.download(received, 100);
            }
        }
        call.progress(RemoteLaunchStage::running);
        return makeReport("Demo", "iPhone 15");
    };
    AppState& app = makeState();
    std::vector<double> shown;
    QObject::connect(&app.launch(), &Launch::launchProgressChanged,
                     [&] { shown.push_back(app.launch().launchProgress()); });
    ASSERT_TRUE(waitFor(app.launch().open("abc")));
    EXPECT_THAT(shown, ::testing::Pointwise(::testing::DoubleNear(1e-9),
                                            std::vector{0.08, 0.2, 0.27, 0.34, 1.0}));
    ASSERT_TRUE(waitFor(app.launch().runOnSimulator("OTHER")));
    ASSERT_EQ(service->relaunches().size(), 1u);
    EXPECT_EQ(service->relaunches()[0].target, "abc");
    EXPECT_EQ(service->relaunches()[0].targets.simulatorUDIDs, std::vector<std::string>{"OTHER"});
    EXPECT_TRUE(simulator->requestedLaunches().empty()) << "not run as a local build";
}

TEST_F(AppStateTest, ARefusedTokenSignsOutAndShowsWhy) {
    service->onLaunch = [](const LaunchCall&) -> SelfTestReport {
        throw QuayletError::authenticationRequired();
    };
    ASSERT_TRUE(waitFor(makeState().launch().open("abc")));
    EXPECT_EQ(state->launch().stage(), LaunchStage::idle);
    EXPECT_EQ(state->launch().errorMessage(), "Sign in with GitHub to open this private build.");
    EXPECT_FALSE(state->account().isSignedIn());
    EXPECT_FALSE(tokens->token);

    tokens->token = "stored-token";
    service->previews = {makeSummary("a", "A")};
    AppState& app = makeState();
    EXPECT_TRUE(app.account().isSignedIn()) << "the store is read when first asked";
    ASSERT_TRUE(waitFor(app.buildsList().refreshBuilds()));
    service->listFailure = std::make_exception_ptr(QuayletError::authenticationRequired());
    ASSERT_TRUE(waitFor(app.buildsList().refreshBuilds()));
    EXPECT_EQ(app.buildsList().builds(), service->previews) << "a failure keeps the list";
    EXPECT_EQ(app.buildsList().buildsError(), "Sign in with GitHub to open this private build.");
    EXPECT_TRUE(app.buildsList().refreshBuilds().isFinished());
    EXPECT_TRUE(app.buildsList().builds().empty()) << "no token empties the list";
}

// A failed sign-out keeps the token and says why; a deliberate sign-out leaves no link behind
// to ask for a sign-in again.
TEST_F(AppStateTest, SigningOutForgetsTheReceivedLinkAndWhereItCameFromOrKeepsTheTokenOnFailure) {
    service->onLaunch = [](const LaunchCall&) -> SelfTestReport { throw CancellationError(); };
    service->revokeFailure = std::make_exception_ptr(QuayletError::serviceError(
        500, "GitHub sign-out failed. Check your connection, then try again."));
    AppState& app = makeState();
    ASSERT_TRUE(waitFor(app.account().signOut()));
    EXPECT_EQ(tokens->token, "stored-token");
    EXPECT_EQ(app.launch().activeDetail(), "GitHub sign-out failed");
    EXPECT_EQ(app.launch().errorMessage(),
              "GitHub sign-out failed. Check your connection, then try again.");

    service->revokeFailure = nullptr;
    ASSERT_TRUE(waitFor(app.launch().open("abc", "watch")));
    EXPECT_EQ(app.launch().receivedFrom(), "watch");
    ASSERT_TRUE(waitFor(app.launch().receive(QUrl("quaylet://preview/abc"))));
    EXPECT_EQ(app.launch().receivedFrom(), "link");
    ASSERT_TRUE(waitFor(app.account().signOut()));
    EXPECT_FALSE(app.account().isSignedIn());
    EXPECT_FALSE(app.launch().receivedPreviewID());
}

// Each entry of a zip archive by name.
std::map<std::string, std::string> zipEntries(const std::filesystem::path& file) {
    std::map<std::string, std::string> entries;
    const std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(),
                                                                        archive_read_free);
    archive_read_support_format_zip(reader.get());
    EXPECT_EQ(archive_read_open_filename(reader.get(), file.c_str(), 4096), ARCHIVE_OK);
    for (archive_entry* entry; archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK;) {
        std::string& contents = entries[archive_entry_pathname(entry)];
        char buffer[4096];
        for (la_ssize_t count;
             (count = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0;) {
            contents.append(buffer, static_cast<std::size_t>(count));
        }
    }
    return entries;
}

// The token reaches neither the kept launches nor the bundle, wherever it turns up: in a
// launch's error, in its URLs, in the settings or the tools' findings; nor does the home folder.
TEST_F(AppStateTest, TheDiagnosticsBundleCarriesNoTokenQueryOrHomeFolder) {
    const std::string token = "tok-3f9/Zq+";
    const std::string home = homeDirectory().string();
    tokens->token = token;
    service->onLaunch = [&](const LaunchCall&) -> SelfTestReport {
        throw QuayletError::previewUnavailable(
            "Refused " + token + " at https://cdn.example/a.zip?t=tok-3f9%2FZq%2B&sig=77 for " +
            home + "/Builds");
    };
    service->steps = {{.step = LaunchStep::manifest, .state = StepState::failed}};
    simulator->snapshot = makeReadyEnvironment({});
    simulator->snapshot.xcodePath = home + "/Xcode.app";
    simulator->snapshot.failures = {"Odd: " + token};
    std::ofstream(settingsFile) << R"({"preferredSimulatorUDID": ")" << token << R"("})";

    ASSERT_TRUE(waitFor(makeState().launch().open("p1")));
    EXPECT_EQ(state->launch().timelineStop().stoppedAt, "Stopped at Build details");
    std::ifstream history(folder.path() / "launches.jsonl");
    const std::string kept{std::istreambuf_iterator<char>(history), {}};
    EXPECT_THAT(kept, ::testing::HasSubstr(R"("outcome":"failed")"));
    EXPECT_THAT(kept, ::testing::Not(::testing::HasSubstr("tok-3f9")));
    EXPECT_THAT(kept, ::testing::Not(::testing::HasSubstr("sig=77")));

    const auto bundle = folder.path() / "diagnostics.zip";
    ASSERT_TRUE(waitFor(state->diagnostics().saveDiagnostics(
        QUrl::fromLocalFile(QString::fromStdString(bundle.string())))));
    ASSERT_EQ(state->diagnostics().savedDiagnostics(), bundle.string())
        << state->launch().errorMessage().value_or("");
    struct stat status {};
    ASSERT_EQ(::stat(bundle.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600);
    const auto entries = zipEntries(bundle);
    EXPECT_EQ(entries.size(), 5U);
    for (const auto& [name, contents] : entries) {
        for (const std::string& secret :
             {std::string("tok-3f9"), std::string("sig=77"), home + "/"}) {
            EXPECT_THAT(contents, ::testing::Not(::testing::HasSubstr(secret))) << name;
        }
    }
    EXPECT_THAT(entries.at("environment.json"), ::testing::HasSubstr("~/Xcode.app"));
    EXPECT_THAT(entries.at("launches.jsonl"), ::testing::HasSubstr("~/Builds"));
}

// A file error reads as a sentence; its paths are kept for the diagnostics alone.
TEST_F(AppStateTest, AFileErrorsPathsReachOnlyTheKeptLaunch) {
    service->onLaunch = [](const LaunchCall&) -> SelfTestReport {
        throw std::filesystem::filesystem_error(
            "cannot rename", "/cache/p1/partial",
            std::make_error_code(std::errc::no_space_on_device));
    };
    ASSERT_TRUE(waitFor(makeState().launch().open("p1")));
    EXPECT_EQ(state->launch().errorMessage(), std::string(kCacheWriteFailed));
    std::ifstream history(folder.path() / "launches.jsonl");
    const std::string kept{std::istreambuf_iterator<char>(history), {}};
    EXPECT_THAT(kept, ::testing::HasSubstr(R"("detail":"filesystem error: cannot rename)"));
    ASSERT_TRUE(state->launch().lastLaunch());
    EXPECT_THAT(state->launch().lastLaunch()->dump(),
                ::testing::Not(::testing::HasSubstr("/cache/p1")));
}

TEST_F(AppStateTest, TheCacheIsCountedPrunedToItsLimitAndRidOfWithdrawnBuilds) {
    service->cached = {{"a", "/cache/a/1", 1'500, std::nullopt}};
    service->previews = {makeSummary("a", "A"), makeSummary("b", "B")};
    service->previews[1].status = "expired";
    AppState& app = makeState();
    ASSERT_TRUE(waitFor(app.buildsList().refreshBuilds()));
    ASSERT_TRUE(waitFor([&] { return app.cache().cacheSize().has_value(); }));
    EXPECT_EQ(service->removedPreviews, std::vector<std::string>{"b"});

    ASSERT_TRUE(waitFor(app.cache().setCacheLimit(5)));    // lowered: applied now
    ASSERT_TRUE(waitFor(app.cache().setCacheLimit(7.5)));  // raised: nothing to remove
    EXPECT_EQ(service->trimmedTo, std::vector<std::uintmax_t>{5'000'000'000});
    EXPECT_EQ(app.cache().cacheLimitGB(), 7.5);
}

TEST_F(AppStateTest, ClearingTheCacheDuringALaunchStopsItFirst) {
    Latch letStoppedLaunchEnd;
    std::atomic<bool> launchEnded = false, launchEndedBeforeClearing = false;
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
    const QFuture<void> launch = app.launch().open("abc");
    ASSERT_TRUE(waitFor([&] { return app.launch().stage() == LaunchStage::downloading; }));

    const QFuture<void> clear = app.cache().clearDownloadCache();
    EXPECT_EQ(app.launch().stage(), LaunchStage::idle);
    letStoppedLaunchEnd.open();
    ASSERT_TRUE(waitFor(clear));
    EXPECT_TRUE(launch.isFinished());
    EXPECT_TRUE(launchEndedBeforeClearing);
    EXPECT_EQ(app.launch().stage(), LaunchStage::idle);
    EXPECT_EQ(app.launch().activeDetail(), "Downloaded builds cleared") << "not \"Build canceled\"";
}

TEST_F(AppStateTest, TheRunningBuildTakesOnlyAbsoluteLinks) {
    simulator->result = makeReport("Demo", "iPhone 15");
    AppState& app = makeState();
    EXPECT_TRUE(waitFor(app.launch().openURLInApp("demo://home")))
        << "nothing runs yet: nothing to do";
    Latch held;
    simulator->onRun = [&](const auto&, std::stop_token) {
        held.wait();
        return *simulator->result;
    };
    const QFuture<void> launch =
        app.launch().runLocalApplication(QUrl::fromLocalFile("/b/Local.app/"), "", false);
    EXPECT_EQ(app.launch().activeAppName(), "Local") << "named after its folder, slash or not";
    const auto detail = app.launch().activeDetail();
    app.launch().cancelLaunch();  // a local launch cannot be cancelled
    EXPECT_EQ(app.launch().activeDetail(), detail);
    held.open();
    ASSERT_TRUE(waitFor(launch));
    EXPECT_EQ(app.launch().report(), simulator->result);
    ASSERT_TRUE(waitFor(app.launch().openURLInApp("home")));
    EXPECT_TRUE(app.launch().errorMessage()) << "a relative link is refused with a message";
    EXPECT_TRUE(simulator->openedURLs().empty());
}

// A repair's line shows until the launch moves on; the launch gets the user's boot time limit.
TEST_F(AppStateTest, ARepairShowsUntilTheNextStage) {
    Settings(settingsFile).setBootTimeoutSeconds(7);
    simulator->result = makeReport("Demo", "iPhone 15");
    AppState& app = makeState();
    std::optional<std::string> during;
    std::optional<std::string> after;
    simulator->onRun = [&](const auto& progress, std::stop_token) {
        progress(RemoteLaunchStage::booting);
        simulator->repairs.onRepair("Restarting iPhone 15 after a stuck start…");
        during = app.launch().repairDetail();
        progress(RemoteLaunchStage::installing);
        after = app.launch().repairDetail();
        return *simulator->result;
    };
    ASSERT_TRUE(
        waitFor(app.launch().runLocalApplication(QUrl::fromLocalFile("/b/L.app"), "", false)));
    EXPECT_EQ(during, "Restarting iPhone 15 after a stuck start…");
    EXPECT_EQ(after, std::nullopt);
    EXPECT_EQ(simulator->repairs.bootTimeout, std::chrono::seconds(7));
}

}  // namespace
}  // namespace quaylet::testing
