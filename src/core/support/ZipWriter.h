#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quaylet {

struct ZipEntry {
    std::string name;      // a relative path inside the archive
    std::string contents;  // the file's bytes
};

// Writes the entries as one zip archive readable by the owner alone (0600). The archive is
// written beside the file under a temporary name and renamed into place, so the file is
// either the whole new archive or what it was before. Failures are thrown as
// std::system_error; no temporary file is left.
void writeZipAtomically(const std::filesystem::path& file, const std::vector<ZipEntry>& entries);

}  // namespace quaylet
