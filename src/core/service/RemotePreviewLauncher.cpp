#include "core/service/RemotePreviewLauncher.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/android/AndroidBuild.h"
#include "core/android/ApkInspector.h"
#include "core/artifacts/ArchiveRefusal.h"
#include "core/artifacts/BuildRefusal.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/process/DeveloperTools.h"
#include "core/service/BuildPlatform.h"
#include "core/service/PreviewIdentifier.h"
#include "core/support/BundleIdentifier.h"
#include "core/support/FileTree.h"
#include "core/support/TextComparison.h"
#include "core/support/UserDirectories.h"

namespace quaylet {
namespace {

constexpr std::int64_t kBuildListLimit = 60;
// A download that fails part-way is tried again this often, 1 s, 2 s and 4 s apart.
constexpr int kDownloadRetries = 3;
constexpr std::chrono::seconds kFirstRetryDelay(1);

std::string_view notReadyMessage(PreviewStatus status) {
    switch (status) {
        case PreviewStatus::creating:
        case PreviewStatus::uploading:
            return "This build is still uploading. Try again in a moment.";
        case PreviewStatus::failed:
            return "This build failed in GitHub Actions. Open the pull request to see why.";
        case PreviewStatus::expired:
            return "This build has expired. Re-run the Quaylet workflow on the pull request.";
        case PreviewStatus::deleted:
        case PreviewStatus::ready:
            break;
    }
    return "This build is no longer available. Open a newer build from the pull request.";
}

// Every device named for the launch has refused the build: nothing is left to download it for.
bool refusedByEvery(const std::vector<std::string>& named,
                    const std::vector<DeviceOutcome>& refusals) {
    return !named.empty() && refusals.size() == named.size();
}

void checkManifest(const PreviewManifest& manifest) {
    if (manifest.schemaVersion != 1) {
        throw QuayletError::unsupportedSchema(manifest.schemaVersion);
    }
    if (manifest.status != PreviewStatus::ready) {
        throw QuayletError::previewUnavailable(std::string(notReadyMessage(manifest.status)));
    }
    if (!buildPlatformFromString(manifest.platform)) {
        throw QuayletError::unsupportedApplication(
            "This build doesn’t target iOS Simulator. Update the GitHub workflow, then rebuild "
            "it.");
    }
    if (manifest.expiresAt && *manifest.expiresAt <= std::chrono::system_clock::now()) {
        throw QuayletError::previewUnavailable(
            "This build has expired. Re-run the Quaylet workflow on the pull request.");
    }
}

bool isHexDigest(std::string_view digest) {
    return digest.size() == 64 && std::all_of(digest.begin(), digest.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// What identifies one version of a file's contents: a write through any path changes the
// size, the modification time or, unforgeably, the status-change time.
struct FileVersion {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;

    static std::optional<FileVersion> of(const std::filesystem::path& file) {
        struct stat status {};
        if (::stat(file.c_str(), &status) != 0) {
            return std::nullopt;
        }
#ifdef __APPLE__
        return FileVersion{status.st_dev, status.st_ino, status.st_size, status.st_mtimespec,
                           status.st_ctimespec};
#else
        return FileVersion{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                           status.st_ctim};
#endif
    }

    bool operator==(const FileVersion& other) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return device == other.device && inode == other.inode && size == other.size &&
               same(modified, other.modified) && same(changed, other.changed);
    }
};

void report(const RemotePreviewLauncher::Progress& progress, RemoteLaunchStage stage) {
    if (progress) {
        progress(stage);
    }
}

}  // namespace

RemotePreviewLauncher::RemotePreviewLauncher(const std::string& baseURL,
                                             std::optional<std::filesystem::path> cacheRoot)
    : RemotePreviewLauncher(
          PreviewAPIClient(baseURL, HTTPSession::shared()),
          ArtifactSecurity(ProcessRunner(), DeveloperTools::forThisHost()),
          SimulatorLauncher(ProcessRunner(), DeveloperTools::forThisHost(),
                            SimulatorDiscovery(ProcessRunner(), DeveloperTools::forThisHost()),
                            SimulatorSelector(),
                            AppInspector(ProcessRunner(), DeveloperTools::forThisHost())),
          AppInspector(ProcessRunner(), DeveloperTools::forThisHost()),
          EmulatorLauncher::forThisHost(), cacheRoot ? std::move(*cacheRoot) : defaultCacheRoot()) {
}

RemotePreviewLauncher::RemotePreviewLauncher(PreviewAPIClient client,
                                             ArtifactSecurity artifactSecurity,
                                             SimulatorLauncher launcher, AppInspector inspector,
                                             EmulatorLauncher emulatorLauncher,
                                             std::filesystem::path cacheRoot)
    : client_(std::move(client)),
      artifactSecurity_(std::move(artifactSecurity)),
      launcher_(std::move(launcher)),
      inspector_(std::move(inspector)),
      emulatorLauncher_(std::move(emulatorLauncher)),
      cacheRoot_(std::move(cacheRoot)) {}

std::filesystem::path RemotePreviewLauncher::defaultCacheRoot() {
    return userCacheDirectory() / kBundleIdentifier;
}

std::string RemotePreviewLauncher::exchangeAuthenticationCode(const std::string& code,
                                                              std::stop_token stop) const {
    return client_.exchangeAuthenticationCode(code, stop);
}

std::vector<PreviewSummary> RemotePreviewLauncher::availablePreviews(const std::string& token,
                                                                     std::stop_token stop) const {
    return client_.listPreviews(token, kBuildListLimit, stop);
}

void RemotePreviewLauncher::revokeAuthentication(const std::string& token,
                                                 std::stop_token stop) const {
    client_.revokeAuthentication(token, stop);
}

CachedBuild RemotePreviewLauncher::fetchVerifiedArchive(const RemoteLaunchRequest& request,
                                                        const ManifestCallback& manifestCallback,
                                                        const Progress& progress,
                                                        std::stop_token stop) const {
    LaunchTimeline unrecorded;
    LaunchTimeline& timeline = request.timeline ? *request.timeline : unrecorded;
    PreviewManifest manifest =
        fetchCheckedManifest(request, manifestCallback, progress, timeline, stop);
    return cacheVerifiedArchive(request, std::move(manifest), progress, timeline, stop);
}

PreviewManifest RemotePreviewLauncher::fetchCheckedManifest(
    const RemoteLaunchRequest& request, const ManifestCallback& manifestCallback,
    const Progress& progress, LaunchTimeline& timeline, std::stop_token stop) const {
    if (!isPreviewIdentifier(request.previewID)) {
        throw QuayletError::invalidDeepLink();
    }
    report(progress, RemoteLaunchStage::fetching);
    LaunchTimeline::Step manifestStep = timeline.begin(LaunchStep::manifest);
    PreviewManifest manifest = client_.preview(request.previewID, request.token, stop);
    if (manifestCallback) {
        manifestCallback(manifest);
    }
    checkManifest(manifest);
    if (!isHexDigest(manifest.sha256)) {
        throw QuayletError::unsafeArchive(std::string(kSecurityCheckMessage));
    }
    manifestStep.finish();
    return manifest;
}

CachedBuild RemotePreviewLauncher::cacheVerifiedArchive(const RemoteLaunchRequest& request,
                                                        PreviewManifest manifest,
                                                        const Progress& progress,
                                                        LaunchTimeline& timeline,
                                                        std::stop_token stop) const {
    const std::filesystem::path buildDirectory = cacheRoot_ / request.previewID / manifest.sha256;
    // The manifest is checked, so its platform is one Quaylet opens.
    const std::filesystem::path archive =
        buildDirectory / archiveFileName(*buildPlatformFromString(manifest.platform));
    createPrivateFolder(cacheRoot_);
    // A launch that meets a prefetch of its build waits here and then finds the archive.
    auto writer = std::make_unique<const BuildDirectoryLock>(buildDirectory, stop);

    // A cached archive is hashed once: when it still matches, the verification below only
    // has to prove that the file has not changed since.
    std::optional<FileVersion> verifiedVersion;
    std::optional<LaunchTimeline::Step> verification;
    if (std::filesystem::exists(archive)) {
        verification.emplace(timeline.begin(LaunchStep::verification));
        try {
            artifactSecurity_.verify(archive, manifest.sha256, stop);
            verifiedVersion = FileVersion::of(archive);
        } catch (const CancellationError&) {
            throw;
        } catch (...) {
            // A stale copy: verify has deleted it, and the build is downloaded again.
        }
    }
    if (verifiedVersion) {
        report(progress, RemoteLaunchStage::verifying);
        if (FileVersion::of(archive) != verifiedVersion) {
            artifactSecurity_.verify(archive, manifest.sha256, stop);
        }
        verification->finish();
    } else {
        if (verification) {
            verification->fail();  // the stale copy
        }
        report(progress, RemoteLaunchStage::downloading);
        const std::filesystem::path partial = buildDirectory / kPartialArchiveName;
        LaunchTimeline::Step download = timeline.begin(LaunchStep::download);
        std::error_code absent;
        const std::uintmax_t kept = std::filesystem::file_size(partial, absent);
        // The digest of the bytes as they were written is the file's digest: comparing it is
        // the verification, without reading the archive a second time.
        const std::string digest = downloadArchive(request, manifest, partial, stop);
        // What a resumed download kept was received by an earlier attempt; a restarted one
        // (the server had nothing past it) received the whole file now.
        const std::uintmax_t received = std::filesystem::file_size(partial);
        download.setBytes(!absent && received >= kept ? received - kept : received);
        download.finish();
        report(progress, RemoteLaunchStage::verifying);
        const LaunchTimeline::Step digestCheck = timeline.begin(LaunchStep::verification);
        if (!equalsIgnoringCase(digest, manifest.sha256)) {
            std::filesystem::remove(partial);
            throw QuayletError::checksumMismatch(manifest.sha256, digest);
        }
        std::filesystem::rename(partial, archive);
    }
    return CachedBuild{std::move(manifest), buildDirectory, archive, std::move(writer)};
}

std::string RemotePreviewLauncher::downloadArchive(const RemoteLaunchRequest& request,
                                                   const PreviewManifest& manifest,
                                                   const std::filesystem::path& partial,
                                                   std::stop_token stop) const {
    const ArtifactPromise promise{manifest.artifactSize, manifest.sha256};
    ArtifactURLResponse location = client_.artifactURL(request.previewID, request.token, stop);
    bool renewed = false;
    for (int retry = 0;; ++retry) {
        try {
            return client_.download(location.url, partial, promise, request.downloadProgress, stop);
        } catch (const QuayletError& error) {
            const auto* refusal = error.as<QuayletError::ServiceError>();
            const std::int64_t status = refusal ? refusal->status : -1;
            if ((status == 403 || status == 410) && !renewed) {
                // The signed address has expired: a fresh one is asked for once.
                renewed = true;
                location = client_.artifactURL(request.previewID, request.token, stop);
                --retry;
                continue;
            }
            if (status == 416) {
                // The server has nothing past what is on disk: start over.
                std::filesystem::remove(partial);
            }
            const bool transient = status == 0 || status == 416 || (status >= 500 && status <= 599);
            if (!transient || retry == kDownloadRetries) {
                throw;
            }
        }
        waitUnlessStopped(kFirstRetryDelay * (1 << retry), stop);
    }
}

PreviewManifest RemotePreviewLauncher::prefetch(const std::string& previewID,
                                                const std::string& token,
                                                std::uintmax_t cacheLimitBytes,
                                                std::stop_token stop) const {
    const auto refuseWhatCannotFit = [cacheLimitBytes](const PreviewManifest& manifest) {
        if (cacheLimitBytes != 0 && std::uintmax_t(manifest.artifactSize) > cacheLimitBytes) {
            throw QuayletError::previewUnavailable(std::string(kLargerThanTheCacheMessage));
        }
    };
    CachedBuild build = fetchVerifiedArchive({.previewID = previewID, .token = token},
                                             refuseWhatCannotFit, nullptr, stop);
    try {
        // Used now, so that the build the user is about to hear of is the last to go.
        const BuildCache cache(cacheRoot_);
        cache.markUsed(build.directory);
        cache.trim(cacheLimitBytes);
    } catch (const std::exception&) {
        // The build is ready: a cache that could not be tidied now is tidied after the next
        // launch or prefetch.
    }
    return std::move(build.manifest);
}

std::vector<DeviceOutcome> RemotePreviewLauncher::launch(const RemoteLaunchRequest& request,
                                                         const ManifestCallback& manifestCallback,
                                                         const Progress& progress,
                                                         std::stop_token stop) const {
    const auto start = std::chrono::steady_clock::now();
    LaunchTimeline unrecorded;
    LaunchTimeline& timeline = request.timeline ? *request.timeline : unrecorded;
    const LaunchTimeline::CommandCapture capture(request.timeline);
    PreviewManifest manifest =
        fetchCheckedManifest(request, manifestCallback, progress, timeline, stop);
    if (buildPlatformFromString(manifest.platform) == BuildPlatform::android) {
        return launchOnEmulators(request, std::move(manifest), start, progress, timeline, stop);
    }
    // A build this host cannot run is refused before a byte of it is downloaded.
    const LaunchPlan plan =
        launcher_.plan(manifest.minimumOSVersion, manifest.architectures,
                       request.preferredSimulatorUDID, request.targets.simulatorUDIDs, stop);
    if (refusedByEvery(request.targets.simulatorUDIDs, plan.refusals)) {
        return plan.refusals;
    }
    // A launch that ends before its devices stops these boots on the way out.
    EarlyBoots earlyBoots;
    if (request.bootEarly) {
        launcher_.bootEarly(earlyBoots, plan, request.repairs, request.earlyBootProgress, stop);
    }
    const CachedBuild build =
        cacheVerifiedArchive(request, std::move(manifest), progress, timeline, stop);

    report(progress, RemoteLaunchStage::extracting);
    // Verified just above, so a verdict the same bytes earned before still holds.
    const std::filesystem::path app = artifactSecurity_.extractSecurely(
        build.archive, build.directory / "app", stop, build.manifest.sha256, request.timeline);
    LaunchTimeline::Step inspection = timeline.begin(LaunchStep::inspection);
    const AppMetadata metadata = inspector_.inspect(app, stop);
    if (metadata.bundleIdentifier != build.manifest.bundleId) {
        throw QuayletError::invalidApplication(kMismatchedBuildMessage);
    }
    inspection.finish();

    return runOnDevices(request, build.directory, app, &earlyBoots, start, progress, stop);
}

std::vector<DeviceOutcome> RemotePreviewLauncher::relaunch(const RemoteLaunchRequest& request,
                                                           const PreviewManifest& manifest,
                                                           const std::filesystem::path& app,
                                                           const Progress& progress,
                                                           std::stop_token stop) const {
    const auto start = std::chrono::steady_clock::now();
    if (!isPreviewIdentifier(request.previewID) || !isHexDigest(manifest.sha256)) {
        throw QuayletError::invalidDeepLink();
    }
    const std::filesystem::path buildDirectory = cacheRoot_ / request.previewID / manifest.sha256;
    // Only the build's own unpacked app is its launch, for the service and for the cache; one
    // that a trim or another process has removed since is no app to run.
    const std::filesystem::path inside = app.lexically_normal().lexically_relative(buildDirectory);
    if (inside.empty() || *inside.begin() != "app" || !std::filesystem::is_directory(app)) {
        throw QuayletError::invalidApplication(AppInspector::kNotAnAppMessage);
    }
    // Held so that no other launch replaces the unpacked app while it is installed.
    const BuildDirectoryLock holding(buildDirectory, stop);
    return runOnDevices(request, buildDirectory, app, nullptr, start, progress, stop);
}

std::vector<DeviceOutcome> RemotePreviewLauncher::runOnDevices(
    const RemoteLaunchRequest& request, const std::filesystem::path& buildDirectory,
    const std::filesystem::path& app, EarlyBoots* earlyBoots,
    std::chrono::steady_clock::time_point start, const Progress& progress,
    std::stop_token stop) const {
    const SelfTestRequest selfTest{.appPath = app,
                                   .preferredSimulatorUDID = request.preferredSimulatorUDID,
                                   .activateSimulator = request.activateSimulator,
                                   .launchOptions = request.targets.options,
                                   .repairs = request.repairs,
                                   .timeline = request.timeline,
                                   .earlyBoots = earlyBoots};
    std::vector<DeviceOutcome> outcomes =
        launcher_.selfTestOnEach(selfTest, request.targets.simulatorUDIDs, progress,
                                 runningRecorder(request, start, stop), stop);
    // The build ran elsewhere: a boot begun for it finishes rather than being cut short.
    if (earlyBoots) {
        earlyBoots->awaitAll();
    }
    keepIfRunning(outcomes, request, buildDirectory);
    return outcomes;
}

std::vector<DeviceOutcome> RemotePreviewLauncher::launchOnEmulators(
    const RemoteLaunchRequest& request, PreviewManifest manifest,
    std::chrono::steady_clock::time_point start, const Progress& progress, LaunchTimeline& timeline,
    std::stop_token stop) const {
    const std::optional<AndroidBuild> android = AndroidBuild::describedBy(manifest);
    checkAndroidLaunchOptions(request.targets.options);
    // As for iOS: a build no emulator here can run is refused before it is downloaded.
    std::vector<DeviceOutcome> refusals = emulatorLauncher_.refusals(
        android->minimumAPILevel, android->abis, request.targets.emulatorNames, stop);
    if (refusedByEvery(request.targets.emulatorNames, refusals)) {
        return refusals;
    }
    const CachedBuild build =
        cacheVerifiedArchive(request, std::move(manifest), progress, timeline, stop);

    // The .apk is checked as an archive and read where it lies, under the build's lock.
    report(progress, RemoteLaunchStage::extracting);
    LaunchTimeline::Step inspection = timeline.begin(LaunchStep::inspection);
    ApkMetadata apk = ApkInspector().inspect(build.archive, stop);
    android->requireSameApp(apk);
    inspection.finish();

    const std::vector<DeviceOutcome> outcomes = emulatorLauncher_.launchOnEach(
        {.apk = std::move(apk),
         .preferredEmulator = request.preferredEmulator,
         .openURL = request.targets.options.openURL,
         .displayName = build.manifest.displayName,
         .timeline = request.timeline},
        request.targets.emulatorNames, progress, runningRecorder(request, start, stop), stop);
    keepIfRunning(outcomes, request, build.directory);
    return outcomes;
}

SimulatorLauncher::OutcomeCallback RemotePreviewLauncher::runningRecorder(
    const RemoteLaunchRequest& request, std::chrono::steady_clock::time_point start,
    std::stop_token stop) const {
    return [this, &request, start, stop](const DeviceOutcome& outcome) {
        if (!outcome.report) {
            return;
        }
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - start;
        client_.recordLaunch(request.previewID, request.token, "running", true,
                             static_cast<std::int64_t>(elapsed.count()), std::nullopt, stop);
    };
}

void RemotePreviewLauncher::keepIfRunning(const std::vector<DeviceOutcome>& outcomes,
                                          const RemoteLaunchRequest& request,
                                          const std::filesystem::path& buildDirectory) const {
    if (std::ranges::none_of(
            outcomes, [](const DeviceOutcome& outcome) { return outcome.report.has_value(); })) {
        return;
    }
    try {
        const BuildCache cache(cacheRoot_);
        cache.markUsed(buildDirectory);
        // The build just launched is still held, so it stays whatever the limit.
        cache.trim(request.cacheLimitBytes);
    } catch (const std::exception&) {
        // The app runs: a cache that could not be tidied now is tidied after the next launch.
    }
}

void RemotePreviewLauncher::clearCache(std::stop_token stop) const {
    BuildCache(cacheRoot_).clear(stop);
    createPrivateFolder(cacheRoot_);
}

}  // namespace quaylet
