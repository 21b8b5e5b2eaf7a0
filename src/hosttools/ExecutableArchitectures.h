#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quaylet::hosttools {

// How many leading bytes of a file the reader needs: enough for any header and the largest
// universal-binary arch table it accepts.
inline constexpr std::size_t kArchitectureHeaderBytes = 4096;

// The architecture names an executable declares, read from its leading bytes: a thin Mach-O
// (32 or 64 bit, either byte order), a universal (fat) Mach-O, or an ELF file. `fileSize` is
// the whole file's size, so universal slices that point past the end are caught. An empty
// result means the bytes are not an executable this reader understands (unknown, truncated or
// malformed); any bytes at all are safe to pass.
std::vector<std::string> executableArchitectures(std::span<const std::uint8_t> leadingBytes,
                                                 std::uint64_t fileSize);

}  // namespace quaylet::hosttools
