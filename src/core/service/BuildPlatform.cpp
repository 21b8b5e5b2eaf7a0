#include "core/service/BuildPlatform.h"

namespace quaylet {

std::optional<BuildPlatform> buildPlatformFromString(std::string_view text) {
    if (text == "iphonesimulator") {
        return BuildPlatform::iosSimulator;
    }
    if (text == "android") {
        return BuildPlatform::android;
    }
    return std::nullopt;
}

BuildPlatform localBuildPlatform(const std::filesystem::path& build) {
    return build.extension() == ".apk" ? BuildPlatform::android : BuildPlatform::iosSimulator;
}

std::string_view archiveFileName(BuildPlatform platform) {
    switch (platform) {
        case BuildPlatform::iosSimulator:
            break;
        case BuildPlatform::android:
            return "artifact.apk";
    }
    return "artifact.zip";
}

}  // namespace quaylet
