// The archive listing tool's output, split into entry names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/artifacts/ListingLines.h"

namespace {

// True when a line still holds a break it should have been split at.
bool holdsLineBreak(std::string_view line) {
    static constexpr std::string_view kUnicodeBreaks[] = {"\xC2\x85", "\xE2\x80\xA8",
                                                          "\xE2\x80\xA9"};
    if (line.find_first_of("\n\r\v\f") != std::string_view::npos) {
        return true;
    }
    for (const std::string_view lineBreak : kUnicodeBreaks) {
        if (line.find(lineBreak) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t keptBytes = 0;
    for (const std::string& line : quaylet::splitListingLines(text)) {
        if (line.empty() || holdsLineBreak(line)) {
            std::abort();
        }
        keptBytes += line.size();
    }
    if (keptBytes > text.size()) {
        std::abort();
    }
    return 0;
}
