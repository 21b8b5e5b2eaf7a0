#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace quaylet {

// Reads a zip archive in process, before any other program unpacks it, and refuses every
// archive whose unpacking could differ between readers, reach outside the destination or
// exceed the size limit. The listing tool reads the central directory while an extractor may
// follow the local headers, so the two must agree byte for byte, and every entry's data is
// inflated here to prove its real size before anything is written.
//
// Refusals are QuayletError::unsafeArchive: kTooLargeMessage when the declared sizes, with a
// block for every folder named or implied, add up to more than kExtractedTreeLimit,
// kEmptyBuildMessage when there are no entries, otherwise kSecurityCheckMessage (also for more
// than 200,000 entries, a name over 1,024 bytes or deeper than 64 components). Any bytes are
// accepted as input; nothing else is thrown except CancellationError, which every step of the
// scan checks for.
void preflightZipArchive(std::span<const std::uint8_t> archive, std::stop_token stop);

// How much entry data the scan inflates. Only links' data is needed for the checks that remain
// once the same bytes (the same SHA-256, verified just now) have passed a scan of every entry.
enum class ZipDataScan { everyEntry, linksOnly };

// The same for a file, mapped into memory rather than read whole. Failures to open or map the
// file are the platform's std::filesystem::filesystem_error.
void preflightZipFile(const std::filesystem::path& archive, std::stop_token stop,
                      ZipDataScan dataScan = ZipDataScan::everyEntry);

// What a reader that unpacks nothing takes from an archive that passed the scan.
struct ScannedZip {
    std::vector<std::string> entryNames;   // in the central directory's order
    std::optional<std::string> entryData;  // the inflated bytes of the entry asked for
};

// The scan of every entry of preflightZipFile for an Android package (.apk), which is read in
// process rather than unpacked; then the entry data of the file entry named exactly entryName,
// absent when there is none or it would inflate to more than maxEntrySize bytes. Beyond any
// archive, the package may hold what Android's packaging tools add and no extractor reads: an
// APK Signing Block between the entries and the central directory, and alignment padding in
// local headers (zero bytes after the extra fields, or the alignment field 0xd935).
ScannedZip preflightApkFile(const std::filesystem::path& archive, std::string_view entryName,
                            std::uint64_t maxEntrySize, std::stop_token stop);
// The same over bytes in memory.
ScannedZip preflightApkArchive(std::span<const std::uint8_t> archive, std::string_view entryName,
                               std::uint64_t maxEntrySize, std::stop_token stop);

}  // namespace quaylet
