#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/support/SemanticVersion.h"

namespace quaylet {

// What an inspected app bundle declares about itself.
struct AppMetadata {
    std::filesystem::path appPath;  // the bundle folder, lexically standardised
    std::string bundleIdentifier;   // never empty
    std::string displayName;        // may be empty
    std::string executableName;     // never empty; a file name directly inside the bundle
    SemanticVersion minimumOSVersion;
    std::vector<std::string> architectures;  // never empty, in the order lipo printed them
    std::optional<std::string> fixtureVersion;

    bool operator==(const AppMetadata&) const = default;
};

}  // namespace quaylet
