#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/android/EmulatorLauncher.h"
#include "core/artifacts/AppInspector.h"
#include "core/artifacts/ArtifactSecurity.h"
#include "core/service/BuildCache.h"
#include "core/service/BuildDirectoryLock.h"
#include "core/service/PreviewAPIClient.h"
#include "core/service/PreviewRecords.h"
#include "core/simulator/SelfTestReport.h"
#include "core/simulator/SimulatorLauncher.h"

namespace quaylet {

struct RemoteLaunchRequest {
    std::string previewID;
    std::string token;
    std::optional<std::string> preferredSimulatorUDID = std::nullopt;
    std::optional<std::string> preferredEmulator = std::nullopt;  // an AVD name, for a .apk
    bool activateSimulator = false;
    LaunchTargets targets = {};
    // Told of the bytes as the archive downloads, on the launching thread.
    DownloadObserver downloadProgress = nullptr;
    // After a launch that runs, older builds are removed until the cache fits; 0: no limit.
    std::uintmax_t cacheLimitBytes = 0;
    RepairSettings repairs = {};  // for each device's launch
    // Boot the device the build will run on beside the download, as soon as the manifest
    // names what the build needs; earlyBootProgress is told how it goes, on the boot's thread.
    bool bootEarly = false;
    EarlyBoots::Observer earlyBootProgress = nullptr;
    // Where each step is recorded, with the commands run for it; absent: nowhere.
    LaunchTimeline* timeline = nullptr;
};

// A build whose archive sits verified in the cache, ready to unpack. Its folder stays held for
// as long as the value lives: another launch or prefetch of the same build, in this process
// or another, would replace the files this one is about to unpack or install.
struct CachedBuild {
    PreviewManifest manifest;
    std::filesystem::path directory;  // cacheRoot/previewID/sha256
    std::filesystem::path archive;    // directory/artifact.zip or .apk, its digest just verified
    std::unique_ptr<const BuildDirectoryLock> writer;
};

// Takes a preview identifier to a running app: fetches and checks the manifest, keeps one
// verified archive per build in a cache, unpacks it safely, checks the app is the one the
// manifest names, and hands it to the simulator launcher. An Android build takes the same road
// up to its verified .apk, which is inspected where it lies (nothing is unpacked) and handed to
// the emulator launcher, whose outcomes take the simulators' form. Also the single door to the
// service for signing in and out and listing builds. Immutable: calls may run concurrently;
// two launches of the same build take their turns with its cache folder.
class RemotePreviewLauncher {
  public:
    // Called, and waited for, with the manifest before it is checked.
    using ManifestCallback = std::function<void(const PreviewManifest&)>;
    using Progress = SimulatorLauncher::Progress;

    // Talks to baseURL through the process-wide HTTP session and drives this host's tools;
    // caches builds under cacheRoot, or defaultCacheRoot() when absent.
    explicit RemotePreviewLauncher(const std::string& baseURL,
                                   std::optional<std::filesystem::path> cacheRoot = std::nullopt);
    RemotePreviewLauncher(PreviewAPIClient client, ArtifactSecurity artifactSecurity,
                          SimulatorLauncher launcher, AppInspector inspector,
                          EmulatorLauncher emulatorLauncher, std::filesystem::path cacheRoot);

    // The user's cache folder followed by the application's bundle identifier.
    static std::filesystem::path defaultCacheRoot();

    const std::filesystem::path& cacheRoot() const { return cacheRoot_; }

    // Starts the network that reaching the service takes (HTTPSession::start): on the main
    // thread, before the first call that does.
    void startNetwork() const { client_.startNetwork(); }

    std::string exchangeAuthenticationCode(const std::string& code, std::stop_token stop) const;
    std::vector<PreviewSummary> availablePreviews(const std::string& token,
                                                  std::stop_token stop) const;
    void revokeAuthentication(const std::string& token, std::stop_token stop) const;

    // Downloads, verifies and unpacks the build once, then runs it on each named device in
    // order (request.targets' emulators for an Android build, its simulators otherwise), posting a
    // launch event for each device it runs on; a device's failure is its outcome. With no device
    // named, runs it on the one chosen device, whose failure is thrown. Any failure before the
    // devices, and a stop, is thrown.
    std::vector<DeviceOutcome> launch(const RemoteLaunchRequest& request,
                                      const ManifestCallback& manifest, const Progress& progress,
                                      std::stop_token stop) const;

    // Runs the app that a launch of this build unpacked (app, under the cache folder of the
    // manifest's archive) again on request.targets' devices, as launch runs it from there: a
    // launch event for each device it runs on, and the build marked launched. Nothing is
    // fetched, downloaded or unpacked. An app outside that folder, or gone from it, is
    // refused; a stop is thrown.
    std::vector<DeviceOutcome> relaunch(const RemoteLaunchRequest& request,
                                        const PreviewManifest& manifest,
                                        const std::filesystem::path& app, const Progress& progress,
                                        std::stop_token stop) const;

    // The first part of a launch: fetches and checks the manifest, then reuses the cached
    // archive when its digest still matches or downloads it, and verifies it. Reports
    // fetching, downloading (when it downloads) and verifying.
    CachedBuild fetchVerifiedArchive(const RemoteLaunchRequest& request,
                                     const ManifestCallback& manifest, const Progress& progress,
                                     std::stop_token stop) const;

    // The part of an archive downloaded so far sits beside it under this name, never under
    // the archive's own, so that nothing unfinished is ever verified, unpacked or reused.
    static constexpr const char* kPartialArchiveName = "artifact.zip.partial";

    // Leaves the build's verified archive in the cache exactly as a launch does before it
    // unpacks, marked as used now, then trims the cache to cacheLimitBytes (0: no limit) as a
    // launch does, so that a later launch skips the download. Returns the manifest; fails as
    // the launch would up to that point, and refuses an archive larger than the limit before
    // downloading it.
    PreviewManifest prefetch(const std::string& previewID, const std::string& token,
                             std::uintmax_t cacheLimitBytes, std::stop_token stop) const;

    // What a prefetch refused for its size says.
    static constexpr std::string_view kLargerThanTheCacheMessage =
        "This build is larger than the cache limit, so it wasn’t fetched ahead. Open it to "
        "download it now, or raise the cache limit in Settings.";

    // Removes every cached build and leaves an empty cache folder; a build that a launch or a
    // prefetch holds is removed once it is free. A stop ends that wait with CancellationError.
    void clearCache(std::stop_token stop) const;

  private:
    // The Android road from the checked manifest on: launch options that only a simulator
    // passes on are refused before the download, and the verified .apk's package must be the
    // manifest's.
    std::vector<DeviceOutcome> launchOnEmulators(const RemoteLaunchRequest& request,
                                                 PreviewManifest manifest,
                                                 std::chrono::steady_clock::time_point start,
                                                 const Progress& progress, LaunchTimeline& timeline,
                                                 std::stop_token stop) const;
    // Tells the service of each device the build runs on, as a launch of its own.
    SimulatorLauncher::OutcomeCallback runningRecorder(const RemoteLaunchRequest& request,
                                                       std::chrono::steady_clock::time_point start,
                                                       std::stop_token stop) const;
    // Marks the build used and trims the cache when it runs somewhere.
    void keepIfRunning(const std::vector<DeviceOutcome>& outcomes,
                       const RemoteLaunchRequest& request,
                       const std::filesystem::path& buildDirectory) const;
    // The devices' part of a launch of the unpacked app, the build's folder held by the caller;
    // the booting stage waits for a device's early boot, when the launch started one.
    std::vector<DeviceOutcome> runOnDevices(const RemoteLaunchRequest& request,
                                            const std::filesystem::path& buildDirectory,
                                            const std::filesystem::path& app,
                                            EarlyBoots* earlyBoots,
                                            std::chrono::steady_clock::time_point start,
                                            const Progress& progress, std::stop_token stop) const;
    // Fetches the manifest and checks what it says of itself.
    PreviewManifest fetchCheckedManifest(const RemoteLaunchRequest& request,
                                         const ManifestCallback& manifest, const Progress& progress,
                                         LaunchTimeline& timeline, std::stop_token stop) const;
    // Reuses the cached archive when its digest still matches, or downloads it, and verifies it.
    CachedBuild cacheVerifiedArchive(const RemoteLaunchRequest& request, PreviewManifest manifest,
                                     const Progress& progress, LaunchTimeline& timeline,
                                     std::stop_token stop) const;

    // Downloads into archive.partial, resuming what an earlier attempt or launch left, and
    // returns the digest of the bytes written.
    std::string downloadArchive(const RemoteLaunchRequest& request, const PreviewManifest& manifest,
                                const std::filesystem::path& partial, std::stop_token stop) const;

    PreviewAPIClient client_;
    ArtifactSecurity artifactSecurity_;
    SimulatorLauncher launcher_;
    AppInspector inspector_;
    EmulatorLauncher emulatorLauncher_;
    std::filesystem::path cacheRoot_;
};

}  // namespace quaylet
