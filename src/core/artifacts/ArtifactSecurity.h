#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/support/LaunchTimeline.h"

namespace quaylet {

// Proves that a downloaded build is the one the service described and unpacks it so that
// nothing from it lands outside its own folder. Every refusal is QuayletError::unsafeArchive
// with one of the sentences in ArchiveRefusal.h. Holds no mutable state.
class ArtifactSecurity {
  public:
    static constexpr std::size_t kDigestChunkSize = 1024 * 1024;

    ArtifactSecurity(ProcessRunner runner, DeveloperTools tools);

    // The file's SHA-256 as 64 lower-case hexadecimal digits, read in kDigestChunkSize pieces.
    std::string sha256(const std::filesystem::path& file, std::stop_token stop) const;

    // Succeeds when the file's digest equals expected, ignoring letter case. Otherwise deletes
    // the file and throws QuayletError::checksumMismatch(expected as given, actual).
    void verify(const std::filesystem::path& file, std::string_view expected,
                std::stop_token stop) const;

    // The entry-name rules alone: refuses an empty list, absolute names ("/" or "~" first), ".."
    // components and backslashes.
    static void validateArchiveEntries(const std::vector<std::string>& names);

    // Replaces destination with the archive's checked contents and returns the one .app bundle
    // inside. The archive is listed and scanned before anything is touched; after a failure
    // in or after unpacking, the destination is gone. The archive itself is never deleted.
    //
    // verifiedDigest is for a caller that has just verified the archive against that digest.
    // A scan of every entry's data then leaves its verdict beside the archive (kScanVerdictName,
    // holding the digest), and when the verdict is already there for the same digest the scan
    // inflates only link targets: identical bytes cannot fail where they passed.
    //
    // timeline, when given, gets the archive check and the unpacking as two steps.
    std::filesystem::path extractSecurely(
        const std::filesystem::path& archive, const std::filesystem::path& destination,
        std::stop_token stop, std::optional<std::string_view> verifiedDigest = std::nullopt,
        LaunchTimeline* timeline = nullptr) const;

    static constexpr const char* kScanVerdictName = "scan-verdict";

    // Refuses an unpacked tree larger than the limit, holding anything but files, folders and
    // links, or holding a link that leaves the tree at any step of its resolution.
    void validateExtractedTree(const std::filesystem::path& root) const;

    // Every entry named *.app under root, in walk order, without looking inside bundles.
    std::vector<std::filesystem::path> appBundles(const std::filesystem::path& root) const;

  private:
    ProcessRunner runner_;
    DeveloperTools tools_;
};

}  // namespace quaylet
