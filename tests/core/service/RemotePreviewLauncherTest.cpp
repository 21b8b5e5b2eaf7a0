#include "core/service/RemotePreviewLauncher.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/errors/QuayletError.h"
#include "core/errors/UserMessage.h"
#include "core/service/BuildDirectoryLock.h"
#include "core/service/ManifestJson.h"
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

const Stages kFirstLaunch = {Stage::fetching,   Stage::downloading, Stage::verifying,
                             Stage::extracting, Stage::selecting,   Stage::booting,
                             Stage::installing, Stage::launching,   Stage::running};

std::string sha256(const fs::path& file) {
    return ArtifactSecurity(ProcessRunner(), DeveloperTools::forThisHost()).sha256(file, {});
}

// A pull-request build as the service keeps it: a manifest beside its zipped app, which runs
// on the stand-in simulator. Tests change the manifest afterwards to aim at one check.
class BuildFolder {
  public:
    BuildFolder(const fs::path& builds, const std::string& id) : folder_(builds / id) {
        fs::create_directories(folder_);
        fixtures::ZipBuilder()
            .addBundle(fixtures::AppBundleBuilder().elfExecutableForHost(), "")
            .writeTo(archive());
        manifest_ = testing::manifestJson();
        manifest_["previewId"] = id;
        set("artifactSize", fs::file_size(archive()));
        set("sha256", digest());
    }

    void set(const std::string& key, json value) {
        manifest_[key] = std::move(value);
        std::ofstream(folder_ / "manifest.json") << manifest_.dump();
    }
    fs::path archive() const { return folder_ / "artifact.zip"; }
    std::string digest() const { return sha256(archive()); }

  private:
    fs::path folder_;
    json manifest_;
};

class RemotePreviewLauncherTest : public ::testing::Test {
  protected:
    struct Outcome {
        std::vector<PreviewManifest> manifests;
        Stages stages;
        std::exception_ptr error;
        std::optional<SelfTestReport> report;
    };

    Outcome launch(const std::string& id = kPreview, const std::string& token = kToken,
                   std::uintmax_t cacheLimitBytes = 0) {
        Outcome outcome;
        try {
            outcome.report =
                launcher
                    .launch(
                        {.previewID = id, .token = token, .cacheLimitBytes = cacheLimitBytes},
                        [&](const PreviewManifest& manifest) {
                            outcome.manifests.push_back(manifest);
                        },
                        [&](Stage stage) { outcome.stages.push_back(stage); }, {})
                    .front()
                    .report;
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    }

    json launchEvents() const {
        const auto answer = httplib::Client("127.0.0.1", service.port()).Get("/dev/launch-events");
        return answer ? json::parse(answer->body) : json();
    }

    fs::path cachedArchive() const {
        return cacheRoot / kPreview / build.digest() / "artifact.zip";
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

TEST_F(RemotePreviewLauncherTest, FirstLaunchDownloadsAndLaterOnesRunFromTheCache) {
    // A stale copy under the build's name is no reason to skip the download.
    fs::create_directories(cachedArchive().parent_path());
    std::ofstream(cachedArchive()) << "an older build";
    const Outcome first = launch();
    ASSERT_EQ(userMessage(first.error), std::nullopt) << *userMessage(first.error);
    EXPECT_EQ(first.stages, kFirstLaunch);
    ASSERT_EQ(first.manifests.size(), 1u);
    EXPECT_EQ(first.manifests[0].displayName, "Demo");
    EXPECT_EQ(sha256(cachedArchive()), build.digest());
    EXPECT_TRUE(fs::is_directory(cachedArchive().parent_path() / "app" / "Demo.app"));
    EXPECT_EQ(first.report->app.bundleIdentifier, "com.example.Demo");
    EXPECT_FALSE(first.report->simulator.isBooted()) << "the device as listed before the boot";
    EXPECT_EQ(fs::status(cacheRoot).permissions(), fs::perms::owner_all);
    const json events = launchEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["stage"], "running");
    EXPECT_EQ(events[0]["successful"], true);
    EXPECT_GE(events[0]["durationMs"].get<std::int64_t>(), 1000) << "includes the 1 s wait";

    const auto written = fs::last_write_time(cachedArchive());
    const Outcome second = launch();
    ASSERT_EQ(userMessage(second.error), std::nullopt) << *userMessage(second.error);
    EXPECT_EQ(second.stages,
              (Stages{Stage::fetching, Stage::verifying, Stage::extracting, Stage::selecting,
                      Stage::installing, Stage::launching, Stage::running}));
    EXPECT_EQ(fs::last_write_time(cachedArchive()), written);
    EXPECT_EQ(launchEvents().size(), 2u);
}

TEST_F(RemotePreviewLauncherTest, ALimitEvictsTheOlderBuildButNeverTheOneJustLaunched) {
    const BuildFolder other{builds.path(), "pv_other"};
    ASSERT_EQ(userMessage(launch().error), std::nullopt);
    const BuildCache cache(cacheRoot);
    ASSERT_EQ(cache.builds().size(), 1u);
    const std::uintmax_t oneBuild = cache.builds()[0].allocatedBytes;

    ASSERT_EQ(userMessage(launch("pv_other", kToken, oneBuild).error), std::nullopt);
    ASSERT_EQ(cache.builds().size(), 1u);
    EXPECT_EQ(cache.builds()[0].previewID, "pv_other");
    EXPECT_FALSE(fs::exists(cacheRoot / kPreview));

    ASSERT_EQ(userMessage(launch(kPreview, kToken, 1).error), std::nullopt);
    EXPECT_EQ(cache.builds().size(), 1u) << "kept though alone it is over the limit";
}

TEST_F(RemotePreviewLauncherTest, DigestMismatchLeavesNoArchiveAndTheNextLaunchDownloads) {
    const std::string served = build.digest();
    const std::string promised(64, 'a');
    build.set("sha256", promised);
    const Outcome outcome = launch();
    EXPECT_EQ(userMessage(outcome.error),
              QuayletError::checksumMismatch(promised, served).errorDescription());
    EXPECT_EQ(outcome.stages.back(), Stage::verifying);
    EXPECT_TRUE(fs::is_empty(cacheRoot / kPreview / promised)) << "nor its partial download";
    EXPECT_TRUE(launchEvents().empty()) << "a failed launch posts nothing";

    build.set("sha256", served);
    const Outcome retry = launch();
    ASSERT_EQ(userMessage(retry.error), std::nullopt) << *userMessage(retry.error);
    EXPECT_EQ(retry.stages[1], Stage::downloading);
}

TEST_F(RemotePreviewLauncherTest, ManifestChecksRunInOrderAfterTheCallback) {
    const auto past =
        formatInternetDateTime(std::chrono::system_clock::now() - std::chrono::seconds(1));
    const auto future =
        formatInternetDateTime(std::chrono::system_clock::now() + std::chrono::hours(1));
    const struct {
        const char* name;
        json changes;
        QuayletError expected;
    } cases[] = {
        {"schema before status",
         {{"schemaVersion", 2}, {"status", "failed"}},
         QuayletError::unsupportedSchema(2)},
        {"still uploading",
         {{"status", "uploading"}},
         QuayletError::previewUnavailable("This build is still uploading. Try again in a moment.")},
        {"status before platform",
         {{"status", "failed"}, {"platform", "iphoneos"}},
         QuayletError::previewUnavailable(
             "This build failed in GitHub Actions. Open the pull request to see why.")},
        {"deleted",
         {{"status", "deleted"}},
         QuayletError::previewUnavailable(
             "This build is no longer available. Open a newer build from the pull request.")},
        {"platform in mixed case",
         {{"platform", "iPhoneSimulator"}},
         QuayletError::unsupportedApplication(
             "This build doesn’t target iOS Simulator. Update the GitHub workflow, then rebuild "
             "it.")},
        {"expired a second ago",
         {{"expiresAt", past}},
         QuayletError::previewUnavailable(
             "This build has expired. Re-run the Quaylet workflow on the pull request.")},
        {"bundle identifier differs in case",
         {{"expiresAt", future}, {"bundleId", "com.example.demo"}},
         QuayletError::invalidApplication(
             "This download doesn’t match the selected build. Open Settings, clear the cache, then "
             "try again.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BuildFolder variant(builds.path(), "pv_variant");
        for (const auto& [key, value] : c.changes.items()) {
            variant.set(key, value);
        }
        const Outcome outcome = launch("pv_variant");
        EXPECT_EQ(userMessage(outcome.error), c.expected.errorDescription());
        EXPECT_EQ(outcome.manifests.size(), 1u);
    }

    const Outcome refused = launch(kPreview, "someone-else");
    EXPECT_EQ(userMessage(refused.error),
              QuayletError::authenticationRequired().errorDescription());
    EXPECT_TRUE(refused.manifests.empty());
    EXPECT_FALSE(fs::exists(cacheRoot / kPreview));
}

TEST_F(RemotePreviewLauncherTest, NamesThatWouldLeaveTheCacheAreRefusedBeforeAnythingIsWritten) {
    const std::string tooLong(201, 'a');
    for (const std::string id :
         {"..", ".", "", "a/../../b", "..\\x", "%2e%2e%2fauth%2flogout", "a b", tooLong.c_str()}) {
        SCOPED_TRACE(id);
        const Outcome outcome = launch(id);
        EXPECT_EQ(userMessage(outcome.error), QuayletError::invalidDeepLink().errorDescription());
        EXPECT_TRUE(outcome.stages.empty()) << "refused before the manifest is asked for";
    }
    for (const std::string& digest :
         {std::string("../../../escaped"), std::string(".."), std::string(63, 'a'),
          std::string(64, 'g'), std::string(64, 'a') + "/x"}) {
        SCOPED_TRACE(digest);
        build.set("sha256", digest);
        EXPECT_EQ(userMessage(launch().error),
                  QuayletError::unsafeArchive(
                      "The downloaded build failed its security check. Open Settings, clear the "
                      "cache, then try again.")
                      .errorDescription());
    }
    EXPECT_TRUE(fs::is_empty(cache.path())) << "nothing was created";
}

TEST_F(RemotePreviewLauncherTest, PrefetchLeavesOnlyTheVerifiedArchiveForTheLaunch) {
    fs::create_directories(cachedArchive().parent_path());
    std::optional<BuildDirectoryLock> launchInProgress(std::in_place, cachedArchive().parent_path(),
                                                       std::stop_token());
    std::stop_source stop;
    std::exception_ptr waiting;
    std::thread prefetching([&] {
        try {
            launcher.prefetch(kPreview, kToken, stop.get_token());
        } catch (...) {
            waiting = std::current_exception();
        }
    });
    stop.request_stop();
    prefetching.join();
    EXPECT_EQ(userMessage(waiting), std::nullopt) << "a stopped prefetch is a cancellation";
    EXPECT_NE(waiting, nullptr);
    EXPECT_FALSE(fs::exists(cachedArchive())) << "it never wrote past the held folder";
    launchInProgress.reset();

    EXPECT_EQ(launcher.prefetch(kPreview, kToken, {}).displayName, "Demo");
    EXPECT_EQ(sha256(cachedArchive()), build.digest());
    EXPECT_FALSE(fs::exists(cachedArchive().parent_path() / "app")) << "nothing unpacked";
    EXPECT_TRUE(launchEvents().empty()) << "a prefetch is no launch";

    const Outcome opened = launch();
    ASSERT_EQ(userMessage(opened.error), std::nullopt) << *userMessage(opened.error);
    EXPECT_EQ(opened.stages[1], Stage::verifying) << "no download after a prefetch";

    build.set("status", "failed");
    EXPECT_THROW(launcher.prefetch(kPreview, kToken, {}), QuayletError) << "checked as a launch";
}

TEST_F(RemotePreviewLauncherTest, ClearCacheLeavesAnEmptyPrivateRoot) {
    launcher.clearCache();
    EXPECT_TRUE(fs::is_directory(cacheRoot));
    fs::create_directories(cacheRoot / "pv" / "digest" / "app");
    launcher.clearCache();
    EXPECT_TRUE(fs::is_empty(cacheRoot));
    EXPECT_EQ(fs::status(cacheRoot).permissions(), fs::perms::owner_all);

    const testing::ScopedEnvironment xdg("XDG_CACHE_HOME", "/var/cache-of-user");
    EXPECT_EQ(RemotePreviewLauncher::defaultCacheRoot(), "/var/cache-of-user/dev.quaylet.Quaylet");
    const testing::ScopedEnvironment relative("XDG_CACHE_HOME", "relative");
    const testing::ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(RemotePreviewLauncher::defaultCacheRoot(),
              "/home/someone/.cache/dev.quaylet.Quaylet");
}

}  // namespace
}  // namespace quaylet
