// An app's compiled AndroidManifest.xml, read as the inspection of an .apk reads it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/android/AndroidManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quaylet::AndroidManifest::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
