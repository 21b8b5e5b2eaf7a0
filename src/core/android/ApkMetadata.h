#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quaylet {

// What an inspected Android build (.apk) declares about itself.
struct ApkMetadata {
    std::filesystem::path apk = {};
    std::string packageName;  // never empty
    std::int64_t versionCode = 0;
    std::optional<std::string> versionName = {};
    int minSdkVersion = 1;               // the lowest API level it runs on
    std::vector<std::string> abis = {};  // of its native code, sorted; empty when it has none

    bool operator==(const ApkMetadata&) const = default;
};

}  // namespace quaylet
