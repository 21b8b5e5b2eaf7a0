#include "DemoBuild.h"

#include "PreviewService.h"

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <stop_token>

#include "core/artifacts/ArtifactSecurity.h"
#include "core/support/InternetDateTime.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"

namespace quaylet::devservice {
namespace {

constexpr const char* kBundleIdentifier = "dev.quaylet.Demo";
constexpr const char* kDisplayName = "Quaylet Demo";
constexpr const char* kMinimumOSVersion = "17.0";

}  // namespace

std::filesystem::path makeDemoBuild(const std::filesystem::path& buildsFolder,
                                    const std::string& previewID) {
    if (!isPlainPreviewID(previewID)) {
        throw std::invalid_argument("the preview identifier must be a plain name: " + previewID);
    }
    const auto folder = buildsFolder / previewID;
    std::filesystem::create_directories(folder);

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

    const ArtifactSecurity security(ProcessRunner(), DeveloperTools::forThisHost());
    const auto now = std::chrono::system_clock::now();
    const nlohmann::json manifest = {
        {"schemaVersion", 1},
        {"previewId", previewID},
        {"repository", "quaylet/demo"},
        {"pullRequest", 1},
        {"commitSha", "0123456789abcdef0123456789abcdef01234567"},
        {"branch", "demo"},
        {"scheme", "QuayletDemo"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", kBundleIdentifier},
        {"displayName", kDisplayName},
        {"minimumOSVersion", kMinimumOSVersion},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64", "x86_64"}},
        {"xcodeVersion", "15.4"},
        {"artifactSize", std::filesystem::file_size(archivePath)},
        {"sha256", security.sha256(archivePath, std::stop_token())},
        {"createdAt", formatInternetDateTime(now)},
        {"readyAt", formatInternetDateTime(now)},
    };
    std::ofstream(folder / "manifest.json") << manifest.dump(2) << '\n';
    return folder;
}

}  // namespace quaylet::devservice
