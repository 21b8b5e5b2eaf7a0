#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quaylet {

// major.minor.patch, read leniently from text and ordered field by field.
struct SemanticVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;

    // Absent unless the first "."-separated piece is a signed decimal integer; a missing or
    // unreadable minor or patch piece counts as 0. White space is not trimmed.
    static std::optional<SemanticVersion> parse(std::string_view text);

    std::string description() const;

    auto operator<=>(const SemanticVersion&) const = default;
};

}  // namespace quaylet
