// The archive listing tool's output, split into entry names. A name that splits again held a
// break it should have been split at (or was empty); splitting only ever drops bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/artifacts/ListingLines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t keptBytes = 0;
    for (const std::string& line : quaylet::splitListingLines(text)) {
        if (quaylet::splitListingLines(line) != std::vector{line}) {
            std::abort();
        }
        keptBytes += line.size();
    }
    if (keptBytes > text.size()) {
        std::abort();
    }
    return 0;
}
