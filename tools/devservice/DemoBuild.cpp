#include "DemoBuild.h"

#include "PreviewService.h"

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <stop_token>

#include "core/artifacts/ArtifactSecurity.h"
#include "core/support/InternetDateTime.h"
#include "fixtures/ApkBuilder.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"

namespace quaylet::devservice {
namespace {

constexpr const char* kBundleIdentifier = "dev.quaylet.Demo";
constexpr const char* kDisplayName = "Quaylet Demo";
constexpr const char* kMinimumOSVersion = "17.0";
constexpr const char* kApplicationId = "dev.quaylet.demo";
constexpr const char* kMinimumAPILevel = "24";

std::filesystem::path createdBuildFolder(const std::filesystem::path& buildsFolder,
                                         const std::string& previewID) {
    if (!isPlainPreviewID(previewID)) {
        throw std::invalid_argument("the preview identifier must be a plain name: " + previewID);
    }
    const auto folder = buildsFolder / previewID;
    std::filesystem::create_directories(folder);
    return folder;
}

// A ready manifest for the archive beside it, with what differs between the platforms.
void writeManifest(const std::filesystem::path& archivePath, const std::string& previewID,
                   const nlohmann::json& platformFields) {
    const ArtifactSecurity security(ProcessRunner(), DeveloperTools::forThisHost());
    const auto now = std::chrono::system_clock::now();
    nlohmann::json manifest = {
        {"schemaVersion", 1},
        {"previewId", previewID},
        {"repository", "quaylet/demo"},
        {"pullRequest", 1},
        {"commitSha", "0123456789abcdef0123456789abcdef01234567"},
        {"branch", "demo"},
        {"scheme", "QuayletDemo"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"displayName", kDisplayName},
        {"artifactSize", std::filesystem::file_size(archivePath)},
        {"sha256", security.sha256(archivePath, std::stop_token())},
        {"createdAt", formatInternetDateTime(now)},
        {"readyAt", formatInternetDateTime(now)},
    };
    manifest.update(platformFields);
    std::ofstream(archivePath.parent_path() / "manifest.json") << manifest.dump(2) << '\n';
}

}  // namespace

std::filesystem::path makeDemoBuild(const std::filesystem::path& buildsFolder,
                                    const std::string& previewID) {
    const auto folder = createdBuildFolder(buildsFolder, previewID);

    const auto bundle = fixtures::AppBundleBuilder("QuayletDemo.app")
                            .bundleIdentifier(kBundleIdentifier)
                            .displayName(kDisplayName)
                            .minimumOSVersion(kMinimumOSVersion)
                            // Universal, so the build runs on Intel and Apple silicon alike.
                            .machOExecutable({"arm64", "x86_64"});
    fixtures::ZipBuilder archive;
    for (const auto& file : bundle.files()) {
        archive.addFile(file.path, file.contents, file.permissions);
    }
    const auto archivePath = folder / "artifact.zip";
    archive.writeTo(archivePath);

    writeManifest(archivePath, previewID,
                  {{"bundleId", kBundleIdentifier},
                   {"minimumOSVersion", kMinimumOSVersion},
                   {"platform", "iphonesimulator"},
                   {"architectures", {"arm64", "x86_64"}},
                   {"xcodeVersion", "15.4"}});
    return folder;
}

std::filesystem::path makeAndroidDemoBuild(const std::filesystem::path& buildsFolder,
                                           const std::string& previewID) {
    const auto folder = createdBuildFolder(buildsFolder, previewID);
    const auto archivePath = folder / "artifact.apk";
    // Without native code, so that every emulator of a high enough API level runs it.
    fixtures::ApkBuilder{.packageName = kApplicationId, .minSdkVersion = 24}.writeTo(archivePath);
    writeManifest(archivePath, previewID,
                  {{"bundleId", kApplicationId},
                   {"minimumOSVersion", kMinimumAPILevel},
                   {"platform", "android"},
                   {"architectures", nlohmann::json::array()}});
    return folder;
}

}  // namespace quaylet::devservice
