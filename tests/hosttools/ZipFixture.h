#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quaylet::testing {

struct ZipEntrySpec {
    enum class Kind { file, directory, symlink };
    std::string name;
    Kind kind = Kind::file;
    std::string data;  // a file's contents or a link's target
    mode_t permissions = 0644;
};

// Writes a zip archive with libarchive's writer, entries stored uncompressed and in order.
void writeZip(const std::filesystem::path& archive, const std::vector<ZipEntrySpec>& entries);

enum class ZipField { uncompressedSize, unixMode };

// Rewrites one header field of the named entry in place, in the central directory and, where
// the field exists there, in the local header: the way to build archives that lie.
void patchZipEntry(const std::filesystem::path& archive, const std::string& name, ZipField field,
                   std::uint32_t value);

}  // namespace quaylet::testing
