#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace quaylet {

// The platforms whose builds Quaylet opens, named in a manifest's platform by an exact,
// case-sensitive string: "iphonesimulator" and "android".
enum class BuildPlatform { iosSimulator, android };

// Absent for any other text, which is a build Quaylet cannot open.
std::optional<BuildPlatform> buildPlatformFromString(std::string_view text);

// What a build chosen on disk is for: an .apk is an Android build, anything else an iOS one.
BuildPlatform localBuildPlatform(const std::filesystem::path& build);

// The verified archive's name in the build's cache folder: the .zip of an iOS build, or the
// .apk of an Android build as it stands.
std::string_view archiveFileName(BuildPlatform platform);

}  // namespace quaylet
