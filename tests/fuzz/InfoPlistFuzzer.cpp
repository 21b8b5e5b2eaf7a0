// An app bundle's Info.plist, XML or binary, read as the inspector reads it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/artifacts/InfoPlist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quaylet::InfoPlist::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
