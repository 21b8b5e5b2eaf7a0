#pragma once

#include <compare>
#include <string_view>

namespace quaylet {

// Letter case is folded for ASCII letters only: every word these helpers are asked about
// (tool state words, device model names, tool messages) is ASCII.

// True when the two texts are equal, whole, ignoring letter case.
bool equalsIgnoringCase(std::string_view left, std::string_view right);

// True when needle occurs in text, ignoring letter case.
bool containsIgnoringCase(std::string_view text, std::string_view needle);

// The order a file browser lists names in: letter case ignored and runs of digits compared
// by numeric value, so "iPhone 9" comes before "iPhone 15". Names that differ only in letter
// case or in leading zeros are equivalent.
std::weak_ordering naturalCompare(std::string_view left, std::string_view right);

}  // namespace quaylet
