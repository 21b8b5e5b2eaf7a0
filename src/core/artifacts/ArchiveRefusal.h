#pragma once

#include <string_view>

namespace quaylet {

// The sentences an unsafe or unusable build archive is refused with. Shared by the in-process
// archive scan and the checks around extraction so that both refuse in the same words.
inline constexpr std::string_view kEmptyBuildMessage =
    "The downloaded build is empty. Rebuild it in GitHub Actions, then try again.";
inline constexpr std::string_view kSecurityCheckMessage =
    "The downloaded build failed its security check. Open Settings, clear the cache, then try "
    "again.";
inline constexpr std::string_view kTooLargeMessage =
    "The downloaded build is too large to open safely.";
inline constexpr std::string_view kCannotInspectMessage =
    "Quaylet couldn’t inspect the downloaded build. Open Settings, clear the cache, then try "
    "again.";
inline constexpr std::string_view kOneAppMessage =
    "The download must contain one iOS app. Rebuild it in GitHub Actions, then try again.";

// The unpacked tree may reach this many bytes but not exceed it.
inline constexpr unsigned long long kExtractedTreeLimit = 8ULL * 1024 * 1024 * 1024;

}  // namespace quaylet
