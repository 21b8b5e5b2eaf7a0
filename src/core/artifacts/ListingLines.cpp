#include "core/artifacts/ListingLines.h"

namespace quaylet {
namespace {

// The byte length of the line break starting at text[index], or 0 when none starts there.
std::size_t lineBreakLength(std::string_view text, std::size_t index) {
    const std::string_view rest = text.substr(index);
    switch (rest.front()) {
        case '\n':
        case '\v':
        case '\f':
            return 1;
        case '\r':
            return rest.starts_with("\r\n") ? 2 : 1;
        default:
            break;
    }
    if (rest.starts_with("\xC2\x85")) {
        return 2;
    }
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
        return 3;
    }
    return 0;
}

}  // namespace

std::vector<std::string> splitListingLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t lineStart = 0;
    std::size_t index = 0;
    while (index < text.size()) {
        const std::size_t breakLength = lineBreakLength(text, index);
        if (breakLength == 0) {
            ++index;
            continue;
        }
        if (index > lineStart) {
            lines.emplace_back(text.substr(lineStart, index - lineStart));
        }
        index += breakLength;
        lineStart = index;
    }
    if (lineStart < text.size()) {
        lines.emplace_back(text.substr(lineStart));
    }
    return lines;
}

}  // namespace quaylet
