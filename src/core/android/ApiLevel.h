#pragma once

#include <optional>
#include <string_view>

namespace quaylet {

// An Android API level written in decimal digits only (no sign, no space); absent for any
// other text and for a number too large to be one.
std::optional<int> parseApiLevel(std::string_view text);

}  // namespace quaylet
