#include "core/android/ApkInspector.h"

#include <set>
#include <string>
#include <string_view>

#include "core/android/AndroidManifest.h"
#include "core/android/ApiLevel.h"
#include "core/artifacts/BuildRefusal.h"
#include "core/artifacts/ZipPreflight.h"
#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

constexpr std::string_view kManifestEntry = "AndroidManifest.xml";
// A device takes a build without a minimum as running everywhere.
constexpr int kDefaultMinSdkVersion = 1;

// The installer takes native code only from lib/<abi>/<name>.so, directly in the ABI's folder.
std::vector<std::string> nativeAbis(const std::vector<std::string>& entryNames) {
    std::set<std::string> abis;
    for (const std::string_view name : entryNames) {
        if (!name.starts_with("lib/") || !name.ends_with(".so")) {
            continue;
        }
        const std::string_view rest = name.substr(4);
        const std::size_t slash = rest.find('/');
        if (slash != 0 && slash != std::string_view::npos &&
            rest.find('/', slash + 1) == std::string_view::npos && rest.size() > slash + 4) {
            abis.emplace(rest.substr(0, slash));
        }
    }
    return {abis.begin(), abis.end()};
}

}  // namespace

ApkMetadata ApkInspector::inspect(const std::filesystem::path& apk, std::stop_token stop) const {
    const ScannedZip scanned =
        preflightApkFile(apk, kManifestEntry, AndroidManifest::kMaxSize, stop);
    const std::optional<AndroidManifest> manifest =
        scanned.entryData ? AndroidManifest::parse(*scanned.entryData) : std::nullopt;
    if (!manifest) {
        throw QuayletError::invalidApplication(kMissingInformationMessage);
    }
    if (!manifest->packageName || manifest->packageName->empty()) {
        throw QuayletError::invalidApplication(kMissingIdentifierMessage);
    }
    const std::optional<int> minSdkVersion =
        manifest->minSdkVersion ? parseApiLevel(*manifest->minSdkVersion) : kDefaultMinSdkVersion;
    if (!minSdkVersion) {
        throw QuayletError::invalidApplication(kNoMinimumAPILevelMessage);
    }
    return ApkMetadata{apk,
                       *manifest->packageName,
                       manifest->versionCode.value_or(0),
                       manifest->versionName,
                       *minSdkVersion,
                       nativeAbis(scanned.entryNames)};
}

}  // namespace quaylet
