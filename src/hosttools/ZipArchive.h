#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quaylet::hosttools {

// The most an extraction writes before it gives up, so a hostile archive cannot fill the disk.
inline constexpr std::uint64_t kExtractionByteLimit = 8ULL * 1024 * 1024 * 1024;

// The entry names of a zip archive exactly as stored (bytes, no conversion), taken from its
// central directory. Throws std::runtime_error for a missing, non-zip or damaged archive.
std::vector<std::string> listZipEntries(const std::filesystem::path& archive);

// The data of the archive's first entry named exactly `name`; absent when there is none. Throws
// std::runtime_error for a damaged archive or an entry longer than `byteLimit`.
std::optional<std::string> readZipEntry(const std::filesystem::path& archive,
                                        const std::string& name, std::uint64_t byteLimit);

// Unpacks a zip archive under `destination` (created when missing). Refuses, with
// std::runtime_error, any entry that is not a regular file, directory or symbolic link, any
// entry whose path is absolute, climbs out with "..", or passes through a symbolic link, and any
// file whose data is longer or shorter than its declared size. Set-id and sticky bits, owners,
// extended attributes and ACLs are never restored. Stops once writing the next block would take
// the total past `byteLimit`. Entries written before a failure stay on disk.
//
// It changes the process's working directory while it runs (so that link checks start at the
// destination, whatever lies above it), so it must not run beside other threads that use
// relative paths.
void extractZip(const std::filesystem::path& archive, const std::filesystem::path& destination,
                std::uint64_t byteLimit = kExtractionByteLimit);

}  // namespace quaylet::hosttools
