#include "core/service/RemotePreviewLauncher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/service/BuildCache.h"
#include "core/service/BuildDirectoryLock.h"
#include "core/service/ServiceRecords.h"
#include "core/support/InternetDateTime.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"
#include "support/DevServiceProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using json = nlohmann::json;
using Stage = RemoteLaunchStage;
using Stages = std::vector<RemoteLaunchStage>;
namespace fs = std::filesystem;
constexpr const char* kToken = "test-token";
constexpr const char* kPreview = "pv_demo";

// A pull-request build as the service keeps it: a manifest beside its zipped app, which runs
// on the stand-in simulator. Tests change the manifest afterwards to aim at one check.
class BuildFolder {
  public:
    BuildFolder(const fs::path& builds, const std::string& id) : folder_(builds / id) {
        fs::create_directories(folder_);
        set({{"previewId", id}});
        publish(fixtures::AppBundleBuilder());
    }

    void publish(fixtures::AppBundleBuilder app) {
        fixtures::ZipBuilder().addBundle(app.elfExecutableForHost(), "").writeTo(archive());
        set({{"artifactSize", fs::file_size(archive())}, {"sha256", digest()}});
    }

    void set(const json& changes) {
        manifest_.update(changes);
        std::ofstream(folder_ / "manifest.json") << manifest_.dump();
    }
    fs::path archive() const { return folder_ / "artifact.zip"; }
    std::string digest() const {
        return ArtifactSecurity(ProcessRunner(), DeveloperTools::forThisHost())
            .sha256(archive(), {});
    }

  private:
    fs::path folder_;
    json manifest_ = testing::manifestJson();
};

class RemotePreviewLauncherTest : public ::testing::Test {
  protected:
    RemotePreviewLauncherTest() { launcher.startNetwork(); }

    struct Outcome {
        std::size_t manifestsSeen = 0;
        Stages stages;
        std::exception_ptr error;
        std::vector<DeviceOutcome> devices = {};
    };

    Outcome launch(const std::string& id = kPreview, const LaunchTargets& targets = {}) {
        Outcome outcome;
        try {
            outcome.devices = launcher.launch(
                {.previewID = id, .token = kToken, .targets = targets},
                [&](const PreviewManifest&) { ++outcome.manifestsSeen; },
                [&](Stage stage) { outcome.stages.push_back(stage); }, {});
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    }

    json launchEvents() const {
        const auto answer = httplib::Client("127.0.0.1", service.port()).Get("/dev/launch-events");
        return answer ? json::parse(answer->body) : json();
    }

    testing::TemporaryDirectory simulatorHome;
    testing::ScopedEnvironment simulatorEnvironment{"QUAYLET_SIMULATOR_HOME",
                                                    simulatorHome.path().string()};
    testing::TemporaryDirectory builds;
    testing::TemporaryDirectory cache;
    fs::path cacheRoot = cache.path() / "root";
    BuildFolder build{builds.path(), kPreview};
    testing::DevServiceProcess service{builds.path(), {"--token", kToken}};
    RemotePreviewLauncher launcher{service.baseURL(), cacheRoot};
};

// Clearing the cache afterwards leaves its root empty and still private.
TEST_F(RemotePreviewLauncherTest, DigestMismatchLeavesNoArchiveAndTheNextLaunchDownloads) {
    const std::string served = build.digest();
    const std::string promised(64, 'a');
    build.set({{"sha256", promised}});
    const Outcome outcome = launch();
    EXPECT_EQ(userMessage(outcome.error),
              QuayletError::checksumMismatch(promised, served).errorDescription());
    EXPECT_EQ(outcome.stages.back(), Stage::verifying);
    EXPECT_TRUE(fs::is_empty(cacheRoot / kPreview / promised)) << "nor its partial download";
    EXPECT_TRUE(launchEvents().empty()) << "a failed launch posts nothing";

    build.set({{"sha256", served}});
    const Outcome retry = launch();
    ASSERT_EQ(userMessage(retry.error), std::nullopt) << *userMessage(retry.error);
    EXPECT_EQ(fs::status(cacheRoot).permissions(), fs::perms::owner_all);
    const json events = launchEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["stage"], "running");
    EXPECT_GE(events[0]["durationMs"].get<std::int64_t>(), 1000) << "includes the 1 s wait";
    launcher.clearCache({});
    EXPECT_TRUE(fs::is_empty(cacheRoot));
    EXPECT_EQ(fs::status(cacheRoot).permissions(), fs::perms::owner_all);
}

TEST_F(RemotePreviewLauncherTest, ManifestChecksRunInOrderAfterTheCallback) {
    const auto now = std::chrono::system_clock::now();
    const auto past = formatInternetDateTime(now - std::chrono::seconds(1));
    const auto future = formatInternetDateTime(now + std::chrono::hours(1));
    // The changes to the manifest, and how the message starts.
    const std::pair<json, std::string> cases[] = {
        {{{"schemaVersion", 2}, {"status", "failed"}}, "This build needs a newer version"},
        {{{"status", "uploading"}}, "This build is still uploading. Try again in a moment."},
        {{{"status", "failed"}, {"platform", "iphoneos"}}, "This build failed in GitHub Actions."},
        {{{"status", "deleted"}}, "This build is no longer available."},
        {{{"platform", "iPhoneSimulator"}}, "This build doesn’t target iOS Simulator."},
        {{{"expiresAt", past}}, "This build has expired."},
        {{{"expiresAt", future}, {"bundleId", "com.example.demo"}},
         "This download doesn’t match the selected build."},
    };
    for (const auto& [changes, message] : cases) {
        SCOPED_TRACE(changes.dump());
        BuildFolder variant(builds.path(), "pv_variant");
        variant.set(changes);
        const Outcome outcome = launch("pv_variant");
        EXPECT_TRUE(userMessage(outcome.error).value_or("").starts_with(message))
            << userMessage(outcome.error).value_or("no failure");
        EXPECT_EQ(outcome.manifestsSeen, 1u);
    }
}

TEST_F(RemotePreviewLauncherTest, NamesThatWouldLeaveTheCacheAreRefusedBeforeAnythingIsWritten) {
    // The alphabet itself is the client's test; the launcher must ask before it writes.
    for (const std::string id : {"..", "a/../../b"}) {
        SCOPED_TRACE(id);
        const Outcome outcome = launch(id);
        EXPECT_EQ(userMessage(outcome.error), QuayletError::invalidDeepLink().errorDescription());
        EXPECT_TRUE(outcome.stages.empty()) << "refused before the manifest is asked for";
    }
    for (const std::string& digest : {std::string("../../../escaped"), std::string(63, 'a'),
                                      std::string(64, 'g'), std::string(64, 'a') + "/x"}) {
        SCOPED_TRACE(digest);
        build.set({{"sha256", digest}});
        EXPECT_EQ(userMessage(launch().error),
                  "The downloaded build failed its security check. Open Settings, clear the "
                  "cache, then try again.");
    }
    EXPECT_TRUE(fs::is_empty(cache.path())) << "nothing was created";
}

// A build is judged by its manifest's claims before the download: one this host cannot run is
// refused, in the words of the checks after the unpack, with no archive requested and nothing
// cached. Claims that cannot be read are left to those checks, which still refuse an app that
// needs more than its manifest claims.
TEST_F(RemotePreviewLauncherTest, ClaimsThisHostCannotRunAreRefusedBeforeTheDownload) {
    const std::string tooNew = QuayletError::noCompatibleSimulator("99.0.0", {}).errorDescription();
    const struct {
        json claims;
        std::string appNeeds;
        std::vector<std::string> devices;
        std::optional<std::string> message;  // of the launch, or of its one device
        std::size_t downloads;
    } cases[] = {
        {{{"minimumOSVersion", "99.0"}}, "17.0", {}, tooNew, 0},
        {{{"architectures", {"ppc"}}}, "17.0", {}, AppInspector::kNoRunnableCodeMessage, 0},
        {json::object(), "17.0", {"NO-SUCH-DEVICE"}, "No Simulator has this UDID.", 0},
        {{{"minimumOSVersion", "newest"}, {"architectures", json::array()}}, "17.0", {}, {}, 1},
        {json::object(), "99.0", {}, tooNew, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.claims.dump() + " " + c.appNeeds);
        fs::remove_all(cacheRoot);
        BuildFolder variant(builds.path(), "pv_claims");
        variant.publish(fixtures::AppBundleBuilder().minimumOSVersion(c.appNeeds));
        variant.set(c.claims);
        httplib::Client("127.0.0.1", service.port()).Delete("/dev/faults");
        const Outcome outcome = launch("pv_claims", {.simulatorUDIDs = c.devices});
        const std::optional<std::string> message = outcome.error || outcome.devices.empty()
                                                       ? userMessage(outcome.error)
                                                       : outcome.devices[0].failure;
        EXPECT_EQ(message.value_or("").substr(0, c.message.value_or("").size()),
                  c.message.value_or(""));
        EXPECT_EQ(message.has_value(), c.message.has_value());
        const auto ranges =
            httplib::Client("127.0.0.1", service.port()).Get("/dev/artifact-ranges");
        EXPECT_EQ(ranges ? json::parse(ranges->body).size() : 99, c.downloads);
        EXPECT_EQ(fs::exists(cacheRoot / "pv_claims"), c.downloads > 0) << "cache written";
    }
}

// Another launch or a prefetch of the same build, in this process or another, waits from the
// download until the app runs: it would replace the files being unpacked and installed.
TEST_F(RemotePreviewLauncherTest, TheBuildFolderStaysHeldUntilTheAppRuns) {
    const fs::path folder = cacheRoot / kPreview / build.digest();
    std::stop_source waitsNot;  // a held folder then refuses at once instead of waiting
    waitsNot.request_stop();
    Stages held;
    Stages free;
    const auto tryToTakeTheFolder = [&](Stage stage) {
        if (stage == Stage::fetching) {
            return;  // the folder is made once the manifest names the digest
        }
        try {
            const BuildDirectoryLock other(folder, waitsNot.get_token());
            free.push_back(stage);
        } catch (const CancellationError&) {
            held.push_back(stage);
        }
    };
    launcher.launch({.previewID = kPreview, .token = kToken}, nullptr, tryToTakeTheFolder, {});
    EXPECT_EQ(free, Stages{});
    EXPECT_GE(held.size(), 4u) << "downloading, verifying, extracting and the simulator's";
    EXPECT_NO_THROW(BuildDirectoryLock(folder, waitsNot.get_token())) << "released after";
}

// A build run again from its unpacked copy is one more launch of it: an event and a fresh mark
// in the cache. An app from anywhere else is no launch of the build.
TEST_F(RemotePreviewLauncherTest, ARelaunchOfTheUnpackedAppIsALaunchOfTheBuild) {
    PreviewManifest manifest;
    RemoteLaunchRequest request{.previewID = kPreview, .token = kToken};
    const auto first = launcher.launch(
        request, [&](const PreviewManifest& read) { manifest = read; }, nullptr, {});
    const fs::path mark = cacheRoot / kPreview / build.digest() / "last-launch";
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(mark, longAgo);
    request.targets.simulatorUDIDs = {first.at(0).udid};
    const fs::path app = first.at(0).report->app.appPath;
    EXPECT_TRUE(launcher.relaunch(request, manifest, app, nullptr, {}).at(0).report);
    EXPECT_EQ(launchEvents().size(), 2u);
    EXPECT_GT(fs::last_write_time(mark), longAgo);
    EXPECT_THROW(launcher.relaunch(request, manifest, cache.path() / "Demo.app", nullptr, {}),
                 QuayletError);
}

// Fetched ahead, a build counts as used and the cache is trimmed as after a launch: the older
// build goes, the one just fetched stays though it alone is over; one that cannot fit is refused.
TEST_F(RemotePreviewLauncherTest, APrefetchKeepsTheCacheWithinTheLimitButTheBuildInUse) {
    const BuildFolder other(builds.path(), "pv_other");
    const std::uintmax_t limit = fs::file_size(other.archive());
    EXPECT_THAT([&] { launcher.prefetch("pv_other", kToken, limit - 1, {}); },
                ::testing::ThrowsMessage<QuayletError>(
                    std::string(RemotePreviewLauncher::kLargerThanTheCacheMessage)));
    EXPECT_FALSE(fs::exists(cacheRoot / "pv_other")) << "refused before downloading";

    launcher.prefetch(kPreview, kToken, 0, {});
    launcher.prefetch("pv_other", kToken, limit, {});
    const std::vector<CachedBuildUsage> left = BuildCache(cacheRoot).builds();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].previewID, "pv_other");
    EXPECT_TRUE(left[0].lastUse.has_value());
    EXPECT_GT(left[0].allocatedBytes, limit);
}

class BuildCacheTest : public ::testing::Test {
  protected:
    // A build of one file of `bytes` bytes, launched that many hours ago (absent: never).
    fs::path addBuild(const std::string& preview, const std::string& digest, std::size_t bytes,
                      std::optional<int> launchedHoursAgo) {
        const fs::path directory = root.path() / preview / digest;
        fs::create_directories(directory);
        std::ofstream(directory / "artifact.zip") << std::string(bytes, 'x');
        if (launchedHoursAgo) {
            cache.markUsed(directory);
            fs::last_write_time(
                directory / "last-launch",
                fs::file_time_type::clock::now() - std::chrono::hours(*launchedHoursAgo));
        }
        return directory;
    }

    std::vector<fs::path> remaining() const {
        std::vector<fs::path> directories;
        for (const CachedBuildUsage& build : cache.builds()) {
            directories.push_back(build.directory);
        }
        return directories;
    }

    testing::TemporaryDirectory root;
    BuildCache cache{root.path()};
};

// A build that a launch holds, in this process or another, is left by every removal; clearing
// waits for it (here a stop ends that wait at once).
TEST_F(BuildCacheTest, RemovalsTakeTheLeastRecentlyUsedFirstAndNeverABuildInUse) {
    const fs::path never = addBuild("a", "1", 100'000, std::nullopt);
    const fs::path old = addBuild("b", "1", 100'000, 48);
    const fs::path recent = addBuild("b", "2", 100'000, 1);
    const fs::path held = addBuild("c", "1", 300'000, 2);
    const BuildDirectoryLock launch(held, {});
    EXPECT_EQ(remaining(), (std::vector{never, old, held, recent}));
    EXPECT_TRUE(cache.builds()[2].inUse);

    EXPECT_TRUE(cache.trim(0).empty()) << "0 is no limit";
    EXPECT_EQ(cache.trim(200'000).size(), 3u);
    EXPECT_EQ(remaining(), std::vector{held});
    EXPECT_FALSE(fs::exists(root.path() / "a")) << "an emptied preview folder goes too";

    addBuild("gone", "1", 10, std::nullopt);
    addBuild("gone", "2", 10, 1);
    cache.removePreviews({"gone", "unknown", "c"});
    EXPECT_EQ(remaining(), std::vector{held}) << "every build of a removed preview goes";
    std::stop_source waitsNot;
    waitsNot.request_stop();
    EXPECT_THROW(cache.clear(waitsNot.get_token()), CancellationError);
    EXPECT_EQ(remaining(), std::vector{held});
}

}  // namespace
}  // namespace quaylet
