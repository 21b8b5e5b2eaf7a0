#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quaylet {

// The keys of an app bundle's Info.plist that inspection reads. A key whose value is not of
// the expected type counts as missing.
struct InfoPlist {
    std::optional<std::string> bundleIdentifier;  // CFBundleIdentifier
    std::optional<std::string> executableName;    // CFBundleExecutable
    std::optional<std::string> displayName;       // CFBundleDisplayName
    std::optional<std::string> bundleName;        // CFBundleName
    std::optional<std::string> minimumOSVersion;  // MinimumOSVersion
    std::optional<std::string> fixtureVersion;    // QuayletFixtureVersion
    std::optional<std::string> shortVersion;      // CFBundleShortVersionString
    // CFBundleSupportedPlatforms; empty unless the value is an array of strings only.
    std::vector<std::string> supportedPlatforms;

    // Reads an XML or binary property list. Absent when the bytes are not a property list or
    // its top level is not a dictionary. Accepts any bytes.
    static std::optional<InfoPlist> parse(std::string_view bytes);

    // Files larger than this are not read: no real one comes close, and a hostile build must
    // not make reading load gigabytes.
    static constexpr std::uintmax_t kMaxFileSize = 8 * 1024 * 1024;

    // Reads the file as parse does. Absent as well when the file is missing, unreadable or
    // larger than kMaxFileSize.
    static std::optional<InfoPlist> load(const std::filesystem::path& file);

    bool operator==(const InfoPlist&) const = default;
};

}  // namespace quaylet
