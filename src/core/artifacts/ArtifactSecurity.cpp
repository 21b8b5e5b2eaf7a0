#include "core/artifacts/ArtifactSecurity.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "core/artifacts/ArchiveEntryName.h"
#include "core/artifacts/ArchiveRefusal.h"
#include "core/artifacts/ListingLines.h"
#include "core/artifacts/ZipPreflight.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/support/FileDescriptor.h"
#include "core/support/FileTree.h"
#include "core/support/Sha256.h"
#include "core/support/SystemError.h"
#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// The most links one lookup follows, as the kernel counts them.
constexpr int kMaxLinkHops = 40;

[[noreturn]] void refuseArchive(std::string_view message) {
    throw QuayletError::unsafeArchive(std::string(message));
}

// Visits every entry under root without following links; the visitor may stop the walk from
// descending into the entry it was given. Returns false when the walk cannot start; a failure
// part-way is the platform's error.
template <typename Visit>
bool walkTree(const fs::path& root, Visit visit) {
    std::error_code error;
    fs::recursive_directory_iterator walk(root, error);
    if (error) {
        return false;
    }
    while (walk != fs::recursive_directory_iterator()) {
        visit(*walk, walk);
        walk.increment(error);
        if (error) {
            throw fs::filesystem_error("Cannot walk the unpacked build", root, error);
        }
    }
    return true;
}

// Failures are ignored: before unpacking, creating the folder afresh reports what matters, and
// after a refusal the refusal is what the caller must hear about.
void discardTree(const fs::path& root) {
    try {
        removeTree(root);
    } catch (const fs::filesystem_error&) {
    }
}

// Deleting a large unpacked build takes about as long as writing a new one, so the previous
// one is moved out of the way at once and deleted on a thread of its own, beside the new
// extraction; the destructor waits for it. The name it moves to is a fresh empty folder
// beside root, which a rename may replace. When root cannot be moved, it is deleted on the
// spot, as the fresh destination needs it gone either way. Trees moved aside by an earlier
// extraction that ended before deleting them (the program was killed) go on the same thread.
class PreviousTreeRemoval {
  public:
    explicit PreviousTreeRemoval(const fs::path& root) {
        const std::string asidePrefix = "." + root.filename().string() + ".old-";
        std::string aside = (root.parent_path() / (asidePrefix + "XXXXXX")).string();
        if (::mkdtemp(aside.data()) == nullptr) {
            discardTree(root);
            return;
        }
        std::error_code error;
        fs::rename(root, aside, error);
        if (error) {
            discardTree(root);
        }
        remover_ = std::jthread([folder = root.parent_path(), asidePrefix] {
            std::error_code unreadable;  // then nothing is left to find either
            for (const fs::directory_entry& entry : fs::directory_iterator(folder, unreadable)) {
                if (entry.path().filename().string().starts_with(asidePrefix)) {
                    discardTree(entry.path());
                }
            }
        });
    }

  private:
    std::jthread remover_;
};

// Setuid, setgid and sticky bits have no business in a build; folders the archive left
// unreadable or unsearchable would hide their contents from the checks and the cleanup.
void normalisePermissions(const fs::path& root) {
    const bool walked = walkTree(root, [](const fs::directory_entry& entry, auto&) {
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0) {
            throw systemError("Cannot read file attributes", entry.path());
        }
        if (S_ISLNK(status.st_mode)) {
            return;  // a link's own mode is never consulted
        }
        mode_t mode = status.st_mode & 07777 & ~(S_ISUID | S_ISGID | S_ISVTX);
        if (S_ISDIR(status.st_mode)) {
            mode |= S_IRWXU;
        }
        if (mode != (status.st_mode & 07777) && ::chmod(entry.path().c_str(), mode) != 0) {
            throw systemError("Cannot change file mode", entry.path());
        }
    });
    if (!walked) {
        refuseArchive(kCannotInspectMessage);
    }
}

std::deque<std::string> componentsOf(const fs::path& path) {
    std::deque<std::string> components;
    for (const fs::path& component : path) {
        if (!component.empty() && component != ".") {
            components.push_back(component.string());
        }
    }
    return components;
}

// Follows a link one component at a time through what is on disk, starting in the link's own
// folder. It stays inside when no step leaves root, no target is absolute, every lookup either
// succeeds or finds nothing (a dangling remainder is taken lexically, so a dangling link is
// judged by where it would point) and the chain ends within the hop limit.
bool linkStaysInside(const fs::path& canonicalRoot, const fs::path& relativeLink) {
    std::deque<std::string> folder = componentsOf(relativeLink.parent_path());
    std::vector<std::string> position(folder.begin(), folder.end());
    std::error_code error;
    const fs::path target = fs::read_symlink(canonicalRoot / relativeLink, error);
    if (error || target.is_absolute()) {
        return false;
    }
    std::deque<std::string> pending = componentsOf(target);
    int hops = 0;
    while (!pending.empty()) {
        const std::string component = std::move(pending.front());
        pending.pop_front();
        if (component == "..") {
            if (position.empty()) {
                return false;
            }
            position.pop_back();
            continue;
        }
        position.push_back(component);
        fs::path candidate = canonicalRoot;
        for (const std::string& part : position) {
            candidate /= part;
        }
        struct stat status {};
        if (::lstat(candidate.c_str(), &status) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) {
                continue;
            }
            return false;
        }
        if (S_ISLNK(status.st_mode)) {
            const fs::path next = fs::read_symlink(candidate, error);
            if (++hops > kMaxLinkHops || error || next.is_absolute()) {
                return false;
            }
            position.pop_back();
            const std::deque<std::string> expansion = componentsOf(next);
            pending.insert(pending.begin(), expansion.begin(), expansion.end());
        }
    }
    return true;
}

// The digest a remembered verdict was given for, or empty when there is none.
std::string rememberedVerdict(const fs::path& file) {
    std::ifstream input(file);
    std::string digest;
    std::getline(input, digest);
    return digest;
}

bool isPackage(const fs::path& path) {
    static const char* const kPackageExtensions[] = {".app",       ".appex",  ".bundle",
                                                     ".framework", ".plugin", ".xpc"};
    const fs::path extension = path.extension();
    return std::any_of(std::begin(kPackageExtensions), std::end(kPackageExtensions),
                       [&](const char* known) { return extension == known; });
}

}  // namespace

ArtifactSecurity::ArtifactSecurity(ProcessRunner runner, DeveloperTools tools)
    : runner_(std::move(runner)), tools_(std::move(tools)) {}

std::string ArtifactSecurity::sha256(const fs::path& file, std::stop_token stop) const {
    const FileDescriptor input = FileDescriptor::openForReading(file);
    Sha256 digest;
    std::vector<char> chunk(kDigestChunkSize);
    for (;;) {
        throwIfStopRequested(stop);
        const ssize_t count = ::read(input.get(), chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw systemError("Cannot read file", file);
        }
        if (count == 0) {
            break;
        }
        digest.update(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
    }
    return digest.hexDigest();
}

void ArtifactSecurity::verify(const fs::path& file, std::string_view expected,
                              std::stop_token stop) const {
    const std::string actual = sha256(file, stop);
    if (equalsIgnoringCase(actual, expected)) {
        return;
    }
    std::error_code ignored;  // the mismatch is what the caller must hear about
    fs::remove(file, ignored);
    throw QuayletError::checksumMismatch(std::string(expected), actual);
}

void ArtifactSecurity::validateArchiveEntries(const std::vector<std::string>& names) {
    if (names.empty()) {
        refuseArchive(kEmptyBuildMessage);
    }
    if (!std::all_of(names.begin(), names.end(), staysBelowDestination)) {
        refuseArchive(kSecurityCheckMessage);
    }
}

fs::path ArtifactSecurity::extractSecurely(const fs::path& archive, const fs::path& destination,
                                           std::stop_token stop,
                                           std::optional<std::string_view> verifiedDigest,
                                           LaunchTimeline* timeline) const {
    LaunchTimeline unrecorded;
    LaunchTimeline& steps = timeline ? *timeline : unrecorded;
    LaunchTimeline::Step check = steps.begin(LaunchStep::archiveCheck);
    // The listing shows one reader's view only; the in-process scan proves that every reader
    // sees the same safe entries. It runs first so that a damaged or hostile archive is refused
    // in the same words whichever listing tool the host has, and however that tool copes.
    const fs::path verdict = archive.parent_path() / kScanVerdictName;
    const bool scannedBefore =
        verifiedDigest && !verifiedDigest->empty() && rememberedVerdict(verdict) == *verifiedDigest;
    preflightZipFile(archive, stop,
                     scannedBefore ? ZipDataScan::linksOnly : ZipDataScan::everyEntry);
    if (verifiedDigest && !scannedBefore) {
        // A verdict that cannot be written, or only in part, costs the next launch a full
        // scan and nothing else, so a failure here is ignored.
        std::ofstream(verdict) << *verifiedDigest << '\n';
    }
    const ProcessResult listing = runner_.runChecked(tools_.listArchive(archive), stop);
    validateArchiveEntries(splitListingLines(listing.standardOutput));
    check.finish();
    const LaunchTimeline::Step unpack = steps.begin(LaunchStep::unpack);

    const PreviousTreeRemoval previous(destination);
    fs::create_directories(destination);
    try {
        runner_.runChecked(tools_.extractArchive(archive, destination), stop);
        normalisePermissions(destination);
        validateExtractedTree(destination);
        const std::vector<fs::path> bundles = appBundles(destination);
        if (bundles.size() != 1) {
            refuseArchive(kOneAppMessage);
        }
        return bundles.front();
    } catch (...) {
        discardTree(destination);
        throw;
    }
}

void ArtifactSecurity::validateExtractedTree(const fs::path& root) const {
    std::error_code error;
    // Computed before anything is compared: the root's own path may run through links (on a
    // Mac, /var is one).
    const fs::path canonicalRoot = fs::canonical(root, error);
    if (error) {
        refuseArchive(kCannotInspectMessage);
    }
    unsigned long long total = 0;
    const bool walked = walkTree(root, [&](const fs::directory_entry& entry, auto&) {
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0) {
            throw systemError("Cannot read file attributes", entry.path());
        }
        if (S_ISREG(status.st_mode)) {
            const auto size = static_cast<unsigned long long>(status.st_size);
            if (size > kExtractedTreeLimit - total) {
                refuseArchive(kTooLargeMessage);
            }
            total += size;
        } else if (S_ISLNK(status.st_mode)) {
            if (!linkStaysInside(canonicalRoot, entry.path().lexically_relative(root))) {
                refuseArchive(kSecurityCheckMessage);
            }
        } else if (!S_ISDIR(status.st_mode)) {
            refuseArchive(kSecurityCheckMessage);  // devices, FIFOs and sockets
        }
    });
    if (!walked) {
        refuseArchive(kCannotInspectMessage);
    }
}

std::vector<fs::path> ArtifactSecurity::appBundles(const fs::path& root) const {
    std::vector<fs::path> bundles;
    walkTree(root, [&](const fs::directory_entry& entry, fs::recursive_directory_iterator& walk) {
        if (entry.path().extension() == ".app") {
            bundles.push_back(entry.path());
        }
        std::error_code ignored;  // an entry that cannot be examined is simply not a package
        if (isPackage(entry.path()) && !entry.is_symlink(ignored) && entry.is_directory(ignored)) {
            walk.disable_recursion_pending();
        }
    });
    return bundles;
}

}  // namespace quaylet
