// The header reader behind the "lipo -archs" stand-in, fed as the tool feeds it: the file's
// leading bytes and its whole size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "hosttools/ExecutableArchitectures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t leading = std::min(size, quaylet::hosttools::kArchitectureHeaderBytes);
    quaylet::hosttools::executableArchitectures(std::span(data, leading), size);
    return 0;
}
