#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quaylet::hosttools {

// CFBundleIdentifier from the Info.plist at the top of an app bundle (XML or binary); absent
// when the file is missing, unreadable, not a dictionary, or the value is not a non-empty string.
std::optional<std::string> readBundleIdentifier(const std::filesystem::path& appBundle);

}  // namespace quaylet::hosttools
