#pragma once

namespace quaylet {

// The sentences a build is refused with when it does not say what it is, shared by the
// inspections of both kinds of build so that both refuse in the same words.
inline constexpr const char* kMissingInformationMessage =
    "This build is missing app information. Rebuild it in GitHub Actions, then try again.";
inline constexpr const char* kMissingIdentifierMessage =
    "This build is missing an app identifier. Check the target settings, then rebuild it.";
inline constexpr const char* kNoMinimumVersionMessage =
    "This build has no valid minimum iOS version. Check the target settings, then rebuild it.";
// The same for an Android build, whose minimum is an API level.
inline constexpr const char* kNoMinimumAPILevelMessage =
    "This build has no valid minimum Android API level. Check minSdk in the app’s Gradle "
    "settings, then rebuild it.";
// A downloaded build that is not the app its manifest names.
inline constexpr const char* kMismatchedBuildMessage =
    "This download doesn’t match the selected build. Open Settings, clear the cache, then try "
    "again.";

}  // namespace quaylet
