#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/android/ApkMetadata.h"
#include "core/service/PreviewRecords.h"

namespace quaylet {

// What a preview manifest for the platform "android" says of its build. The archive is the
// .apk itself, its sha256 taken over it, cached under archiveFileName(BuildPlatform::android).
struct AndroidBuild {
    std::string applicationId;      // the manifest's bundleId
    int minimumAPILevel = 1;        // its minimumOSVersion, decimal text
    std::vector<std::string> abis;  // its architectures; empty for a build without native code

    // Absent when the manifest is for another platform. A minimumOSVersion that is not an
    // API level in decimal is refused as a build without a valid minimum version.
    static std::optional<AndroidBuild> describedBy(const PreviewManifest& manifest);

    // Refuses a downloaded build whose package is not exactly the application id, in the
    // words a mismatched iOS build is refused with.
    void requireSameApp(const ApkMetadata& apk) const;

    bool operator==(const AndroidBuild&) const = default;
};

}  // namespace quaylet
