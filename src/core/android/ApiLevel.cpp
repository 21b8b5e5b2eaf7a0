#include "core/android/ApiLevel.h"

#include <algorithm>
#include <charconv>

namespace quaylet {

std::optional<int> parseApiLevel(std::string_view text) {
    const bool digitsOnly = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
    int level = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), level);
    if (!digitsOnly || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return level;
}

}  // namespace quaylet
