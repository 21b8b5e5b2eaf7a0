#include "core/android/AndroidBuild.h"

#include "core/android/ApiLevel.h"
#include "core/artifacts/BuildRefusal.h"
#include "core/errors/QuayletError.h"
#include "core/service/BuildPlatform.h"

namespace quaylet {

std::optional<AndroidBuild> AndroidBuild::describedBy(const PreviewManifest& manifest) {
    if (buildPlatformFromString(manifest.platform) != BuildPlatform::android) {
        return std::nullopt;
    }
    const std::optional<int> level = parseApiLevel(manifest.minimumOSVersion);
    if (!level) {
        throw QuayletError::invalidApplication(kNoMinimumAPILevelMessage);
    }
    return AndroidBuild{manifest.bundleId, *level, manifest.architectures};
}

void AndroidBuild::requireSameApp(const ApkMetadata& apk) const {
    if (apk.packageName != applicationId) {
        throw QuayletError::invalidApplication(kMismatchedBuildMessage);
    }
}

}  // namespace quaylet
