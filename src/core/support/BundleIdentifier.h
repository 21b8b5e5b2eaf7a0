#pragma once

#include <algorithm>
#include <string_view>

namespace quaylet {

// The application's reverse-DNS identifier: it names the stored sign-in, the cache folder and
// the installed icon.
inline constexpr std::string_view kBundleIdentifier = "dev.quaylet.Quaylet";

// Whether an app's identifier can go into a host tool's argument list as the one word it is:
// 1 to 255 letters, digits, dots and hyphens, never starting with a hyphen (an option to the
// tool) or a dot.
inline bool isValidBundleIdentifier(std::string_view identifier) {
    const auto allowed = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-';
    };
    return !identifier.empty() && identifier.size() <= 255 && identifier.front() != '-' &&
           identifier.front() != '.' && std::ranges::all_of(identifier, allowed);
}

}  // namespace quaylet
