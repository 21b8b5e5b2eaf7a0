// Version text from manifests, Info.plist files and the simulator listing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/support/SemanticVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto version = quaylet::SemanticVersion::parse(text);
    // Whatever reads must write back as text that reads as the same version.
    if (version && quaylet::SemanticVersion::parse(version->description()) != version) {
        std::abort();
    }
    return 0;
}
