#pragma once

#include <string_view>

namespace quaylet {

// The application's reverse-DNS identifier: it names the stored sign-in, the cache folder and
// the installed icon.
inline constexpr std::string_view kBundleIdentifier = "dev.quaylet.Quaylet";

}  // namespace quaylet
