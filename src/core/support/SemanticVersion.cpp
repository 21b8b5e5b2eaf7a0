#include "core/support/SemanticVersion.h"

#include <charconv>

namespace quaylet {
namespace {

// A whole piece of an optional sign and at least one digit, within 64 bits.
std::optional<std::int64_t> parseInteger(std::string_view piece) {
    if (!piece.empty() && piece.front() == '+') {
        piece.remove_prefix(1);
        if (!piece.empty() && piece.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (piece.empty() || error != std::errc() || end != piece.data() + piece.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<SemanticVersion> SemanticVersion::parse(std::string_view text) {
    std::optional<std::int64_t> pieces[3];
    std::size_t start = 0;
    for (int index = 0; index < 3 && start <= text.size(); ++index) {
        const std::size_t dot = text.find('.', start);
        const std::size_t end = dot == std::string_view::npos ? text.size() : dot;
        pieces[index] = parseInteger(text.substr(start, end - start));
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    if (!pieces[0]) {
        return std::nullopt;
    }
    return SemanticVersion{*pieces[0], pieces[1].value_or(0), pieces[2].value_or(0)};
}

std::string SemanticVersion::description() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

}  // namespace quaylet
