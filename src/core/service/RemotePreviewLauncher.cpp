#include "core/service/RemotePreviewLauncher.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/artifacts/ArchiveRefusal.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/process/DeveloperTools.h"
#include "core/service/BuildDirectoryLock.h"
#include "core/support/BundleIdentifier.h"
#include "core/support/UserDirectories.h"

namespace quaylet {
namespace {

constexpr std::int64_t kBuildListLimit = 60;
constexpr std::string_view kSimulatorPlatform = "iphonesimulator";

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

void checkManifest(const PreviewManifest& manifest) {
    if (manifest.schemaVersion != 1) {
        throw QuayletError::unsupportedSchema(manifest.schemaVersion);
    }
    if (manifest.status != PreviewStatus::ready) {
        throw QuayletError::previewUnavailable(std::string(notReadyMessage(manifest.status)));
    }
    if (manifest.platform != kSimulatorPlatform) {
        throw QuayletError::unsupportedApplication(
            "This build doesn’t target iOS Simulator. Update the GitHub workflow, then rebuild "
            "it.");
    }
    if (manifest.expiresAt && *manifest.expiresAt <= std::chrono::system_clock::now()) {
        throw QuayletError::previewUnavailable(
            "This build has expired. Re-run the Quaylet workflow on the pull request.");
    }
}

// The identifier and the digest become folder names in the cache, so each must be one plain
// name that cannot climb out of the cache or into another build's folder.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
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
          cacheRoot ? std::move(*cacheRoot) : defaultCacheRoot()) {}

RemotePreviewLauncher::RemotePreviewLauncher(PreviewAPIClient client,
                                             ArtifactSecurity artifactSecurity,
                                             SimulatorLauncher launcher, AppInspector inspector,
                                             std::filesystem::path cacheRoot)
    : client_(std::move(client)),
      artifactSecurity_(std::move(artifactSecurity)),
      launcher_(std::move(launcher)),
      inspector_(std::move(inspector)),
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

RemotePreviewLauncher::VerifiedArchive RemotePreviewLauncher::verifiedArchive(
    const std::string& previewID, const std::string& token,
    const ManifestCallback& manifestCallback, const Progress& progress,
    std::stop_token stop) const {
    if (!isPlainName(previewID)) {
        throw QuayletError::invalidDeepLink();
    }

    report(progress, RemoteLaunchStage::fetching);
    PreviewManifest manifest = client_.preview(previewID, token, stop);
    if (manifestCallback) {
        manifestCallback(manifest);
    }
    checkManifest(manifest);
    if (!isHexDigest(manifest.sha256)) {
        throw QuayletError::unsafeArchive(std::string(kSecurityCheckMessage));
    }

    const std::filesystem::path buildDirectory = cacheRoot_ / previewID / manifest.sha256;
    const std::filesystem::path archive = buildDirectory / "artifact.zip";
    std::filesystem::create_directories(buildDirectory);
    // A launch that meets a prefetch of its build waits here and then finds the archive.
    const BuildDirectoryLock writer(buildDirectory, stop);

    // A cached archive is hashed once: when it still matches, the verification below only
    // has to prove that the file has not changed since.
    std::optional<FileVersion> verifiedVersion;
    if (std::filesystem::exists(archive)) {
        try {
            artifactSecurity_.verify(archive, manifest.sha256, stop);
            verifiedVersion = FileVersion::of(archive);
        } catch (const CancellationError&) {
            throw;
        } catch (...) {
            // A stale copy: verify has deleted it, and the build is downloaded again.
        }
    }
    if (!verifiedVersion) {
        report(progress, RemoteLaunchStage::downloading);
        const ArtifactURLResponse location = client_.artifactURL(previewID, token, stop);
        client_.download(location.url, archive, stop);
    }

    report(progress, RemoteLaunchStage::verifying);
    if (!verifiedVersion || FileVersion::of(archive) != verifiedVersion) {
        artifactSecurity_.verify(archive, manifest.sha256, stop);
    }
    return {std::move(manifest), buildDirectory, archive};
}

PreviewManifest RemotePreviewLauncher::prefetch(const std::string& previewID,
                                                const std::string& token,
                                                std::stop_token stop) const {
    return verifiedArchive(previewID, token, nullptr, nullptr, stop).manifest;
}

SelfTestReport RemotePreviewLauncher::launch(const RemoteLaunchRequest& request,
                                             const ManifestCallback& manifestCallback,
                                             const Progress& progress, std::stop_token stop) const {
    const auto start = std::chrono::steady_clock::now();
    const auto [manifest, buildDirectory, archive] =
        verifiedArchive(request.previewID, request.token, manifestCallback, progress, stop);
    const std::filesystem::path destination = buildDirectory / "app";

    report(progress, RemoteLaunchStage::extracting);
    const std::filesystem::path app = artifactSecurity_.extractSecurely(archive, destination, stop);
    const AppMetadata metadata = inspector_.inspect(app, stop);
    if (metadata.bundleIdentifier != manifest.bundleId) {
        throw QuayletError::invalidApplication(
            "This download doesn’t match the selected build. Open Settings, clear the cache, then "
            "try again.");
    }

    SelfTestReport result =
        launcher_.selfTest(SelfTestRequest{.appURL = app,
                                           .preferredSimulatorUDID = request.preferredSimulatorUDID,
                                           .activateSimulator = request.activateSimulator},
                           progress, stop);

    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    client_.recordLaunch(request.previewID, request.token, "running", true,
                         static_cast<std::int64_t>(elapsed.count()), std::nullopt, stop);
    return result;
}

void RemotePreviewLauncher::clearCache() const {
    std::filesystem::remove_all(cacheRoot_);
    std::filesystem::create_directories(cacheRoot_);
}

}  // namespace quaylet
