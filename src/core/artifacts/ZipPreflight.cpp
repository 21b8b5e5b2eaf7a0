#include "core/artifacts/ZipPreflight.h"

#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/artifacts/ArchiveEntryName.h"
#include "core/artifacts/ArchiveRefusal.h"
#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/support/FileDescriptor.h"
#include "core/support/SystemError.h"
#include "core/support/Text.h"

namespace quaylet {
namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;

constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;
constexpr std::uint64_t kEndSize = 22;
constexpr std::uint64_t kMaxCommentLength = 0xFFFF;
constexpr std::uint64_t kZip64LocatorSize = 20;
constexpr std::uint64_t kZip64EndFixedSize = 56;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kUnicodePathExtraId = 0x7075;
// Extra fields some extractor reads as a file type, a link target or another name (0x000d,
// 0x756e, 0x6c78 among them) would let it unpack what this scan never saw. Only fields that
// carry sizes, times, owners or a name this scan checks are let through: zip64 sizes, NTFS
// times, extended timestamps, Unix owners, and the Unicode path when it agrees.
constexpr std::uint16_t kHarmlessExtraIds[] = {kZip64ExtraId, 0x000a, 0x5455, 0x7875,
                                               kUnicodePathExtraId};
// The field Android's signing tool pads a local header with so that the entry's data starts
// aligned: the alignment, then zero bytes.
constexpr std::uint16_t kAlignmentExtraId = 0xd935;

// Bounds that keep the unpacked tree walkable and the scan's own work in proportion to the
// archive: the number of entries, a name's length in bytes and its depth in folders.
constexpr std::uint64_t kMaxEntryCount = 200'000;
constexpr std::size_t kMaxNameLength = 1024;
constexpr std::size_t kMaxNameDepth = 64;
// What each folder, named or implied by a deeper name, takes on disk: about one block.
constexpr std::uint64_t kFolderFootprint = 4096;

constexpr std::uint16_t kFlagEncrypted = 1U << 0;
constexpr std::uint16_t kFlagDataDescriptor = 1U << 3;
constexpr std::uint16_t kFlagPatchedData = 1U << 5;
constexpr std::uint16_t kFlagStrongEncryption = 1U << 6;
constexpr std::uint16_t kFlagUtf8Names = 1U << 11;
constexpr std::uint16_t kFlagMaskedHeaders = 1U << 13;
// Flags that change how a reader finds or decodes an entry, so both headers must agree on them.
constexpr std::uint16_t kFlagsThatMustAgree = kFlagEncrypted | kFlagDataDescriptor | kFlagUtf8Names;
constexpr std::uint16_t kFlagsRefused =
    kFlagEncrypted | kFlagPatchedData | kFlagStrongEncryption | kFlagMaskedHeaders;

constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

constexpr std::uint16_t k16BitSentinel = 0xFFFF;
constexpr std::uint32_t k32BitSentinel = 0xFFFFFFFF;

constexpr std::uint32_t kFileTypeMask = 0170000;
constexpr std::uint32_t kRegularFileType = 0100000;
constexpr std::uint32_t kDirectoryType = 0040000;
constexpr std::uint32_t kSymbolicLinkType = 0120000;
constexpr std::uint32_t kDosDirectoryAttribute = 0x10;

// The kernel's own bounds: the longest link target and the most links one lookup follows.
constexpr std::uint64_t kMaxLinkTargetLength = 4096;
constexpr int kMaxLinkHops = 40;

[[noreturn]] void refuse() {
    throw QuayletError::unsafeArchive(std::string(kSecurityCheckMessage));
}

void require(bool condition) {
    if (!condition) {
        refuse();
    }
}

using Bytes = std::span<const std::uint8_t>;

// How the scan tells a caller whose bytes are a file mapping which entry data it is about to
// read and which it has verified. The caller can map an entry's pages in one call, which costs
// a fraction of a fault for every few of them, and give verified pages back rather than hold
// the whole archive resident. It can also copy a few bytes without mapping the pages around
// them, which is how the headers of a long stream of stored blocks are read. Any may be empty.
struct DataPaging {
    std::function<void(Bytes)> willRead;
    std::function<void(Bytes)> verified;
    std::function<void(Bytes, std::uint8_t* into)> copy;
};

std::string_view asText(Bytes bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Little-endian reads in which any access past the end refuses the archive.
class ByteView {
  public:
    explicit ByteView(Bytes bytes) : bytes_(bytes) {}

    std::uint64_t size() const { return bytes_.size(); }

    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }

    Bytes slice(std::uint64_t offset, std::uint64_t length) const {
        require(contains(offset, length));
        return bytes_.subspan(offset, length);
    }

    std::uint64_t little(std::uint64_t offset, std::size_t width) const {
        const Bytes piece = slice(offset, width);
        std::uint64_t value = 0;
        for (std::size_t index = width; index-- > 0;) {
            value = (value << 8) | piece[index];
        }
        return value;
    }
    std::uint16_t u16(std::uint64_t offset) const {
        return static_cast<std::uint16_t>(little(offset, 2));
    }
    std::uint32_t u32(std::uint64_t offset) const {
        return static_cast<std::uint32_t>(little(offset, 4));
    }
    std::uint64_t u64(std::uint64_t offset) const { return little(offset, 8); }

  private:
    Bytes bytes_;
};

struct ExtraField {
    std::uint16_t id = 0;
    Bytes data;
};

// What an archive may hold beyond the rules every archive follows. An Android package is read
// in process and never unpacked, and its packaging tools add two things that no extractor
// reads: alignment padding in local headers and a signing block before the central directory.
enum class ZipLayout { plain, androidPackage };

// The fields must fill the extra area exactly; the fields this scan interprets may appear once.
// With alignment padding allowed, the area may end in zero bytes (as zipalign pads it) and hold
// the alignment field.
std::vector<ExtraField> parseExtraFields(Bytes extra, bool alignmentPadding = false) {
    const ByteView view(extra);
    std::vector<ExtraField> fields;
    // The bytes up to the last that is not zero; any after it can only be padding.
    const auto significant = static_cast<std::uint64_t>(
        extra.rend() -
        std::find_if(extra.rbegin(), extra.rend(), [](std::uint8_t byte) { return byte != 0; }));
    std::uint64_t offset = 0;
    while (offset < view.size()) {
        if (alignmentPadding && offset >= significant) {
            break;
        }
        const std::uint16_t id = view.u16(offset);
        const std::uint16_t length = view.u16(offset + 2);
        fields.push_back({id, view.slice(offset + 4, length)});
        offset += 4 + length;
    }
    for (const std::uint16_t interpreted : {kZip64ExtraId, kUnicodePathExtraId}) {
        require(std::count_if(fields.begin(), fields.end(), [&](const ExtraField& field) {
                    return field.id == interpreted;
                }) <= 1);
    }
    require(std::all_of(fields.begin(), fields.end(), [&](const ExtraField& field) {
        return std::find(std::begin(kHarmlessExtraIds), std::end(kHarmlessExtraIds), field.id) !=
                   std::end(kHarmlessExtraIds) ||
               (alignmentPadding && field.id == kAlignmentExtraId && field.data.size() >= 2);
    }));
    return fields;
}

std::optional<Bytes> findExtraField(const std::vector<ExtraField>& fields, std::uint16_t id) {
    for (const ExtraField& field : fields) {
        if (field.id == id) {
            return field.data;
        }
    }
    return std::nullopt;
}

// Hands out the zip64 field's 64-bit values, one for each header value that holds the sentinel,
// in the order the format fixes.
class Zip64Values {
  public:
    explicit Zip64Values(std::optional<Bytes> field) : field_(field) {}

    std::uint64_t widen(std::uint64_t value, std::uint64_t sentinel) {
        if (value != sentinel) {
            return value;
        }
        require(field_.has_value());
        const std::uint64_t wide = ByteView(*field_).u64(offset_);
        offset_ += 8;
        return wide;
    }

    bool present() const { return field_.has_value(); }

  private:
    std::optional<Bytes> field_;
    std::uint64_t offset_ = 0;
};

// An Info-ZIP Unicode path field names the entry for the readers that honour it, so it must
// say exactly what the header says.
void requireUnicodePathAgrees(const std::vector<ExtraField>& fields, std::string_view name) {
    if (const auto field = findExtraField(fields, kUnicodePathExtraId)) {
        const ByteView view(*field);
        require(view.size() >= 5 && (*field)[0] == 1);
        require(asText(field->subspan(5)) == name);
    }
}

enum class EntryKind { file, directory, symbolicLink };

struct Entry {
    std::string name;
    EntryKind kind = EntryKind::file;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint32_t externalAttributes = 0;
    Bytes data;             // the entry's compressed data, found through its local header
    std::uint64_t end = 0;  // one past its last byte, data descriptor included
};

struct CentralDirectory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entryCount = 0;
};

// Finds the end record and, for zip64 archives, the records it points to. The central
// directory must end exactly where they begin and the end record must end the file.
CentralDirectory readEndRecords(const ByteView& archive) {
    require(archive.size() >= kEndSize);
    const std::uint64_t lowest =
        archive.size() - kEndSize - std::min(kMaxCommentLength, archive.size() - kEndSize);
    std::optional<std::uint64_t> endOffset;
    for (std::uint64_t offset = archive.size() - kEndSize + 1; offset-- > lowest;) {
        if (archive.u32(offset) == kEndSignature) {
            endOffset = offset;
            break;
        }
    }
    require(endOffset.has_value());
    const std::uint64_t end = *endOffset;
    require(end + kEndSize + archive.u16(end + 20) == archive.size());
    require(archive.u16(end + 4) == 0 && archive.u16(end + 6) == 0);
    const std::uint16_t entriesHere = archive.u16(end + 8);
    CentralDirectory directory{archive.u32(end + 16), archive.u32(end + 12), archive.u16(end + 10)};
    require(entriesHere == directory.entryCount);
    std::uint64_t directoryEnd = end;

    const bool hasLocator =
        end >= kZip64LocatorSize && archive.u32(end - kZip64LocatorSize) == kZip64LocatorSignature;
    if (hasLocator) {
        const std::uint64_t locator = end - kZip64LocatorSize;
        require(archive.u32(locator + 4) == 0 && archive.u32(locator + 16) == 1);
        const std::uint64_t zip64End = archive.u64(locator + 8);
        require(zip64End <= locator && locator - zip64End >= kZip64EndFixedSize);
        require(archive.u32(zip64End) == kZip64EndSignature);
        require(archive.u64(zip64End + 4) == locator - zip64End - 12);
        require(archive.u32(zip64End + 16) == 0 && archive.u32(zip64End + 20) == 0);
        const std::uint64_t wideEntriesHere = archive.u64(zip64End + 24);
        const CentralDirectory wide{archive.u64(zip64End + 48), archive.u64(zip64End + 40),
                                    archive.u64(zip64End + 32)};
        require(wideEntriesHere == wide.entryCount);
        require(directory.entryCount == k16BitSentinel || directory.entryCount == wide.entryCount);
        require(directory.size == k32BitSentinel || directory.size == wide.size);
        require(directory.offset == k32BitSentinel || directory.offset == wide.offset);
        directory = wide;
        directoryEnd = zip64End;
    } else {
        require(directory.entryCount != k16BitSentinel && directory.size != k32BitSentinel &&
                directory.offset != k32BitSentinel);
    }
    require(directory.offset <= directoryEnd && directoryEnd - directory.offset == directory.size);
    return directory;
}

EntryKind kindOf(std::string_view name, std::uint32_t externalAttributes) {
    const bool namedAsDirectory = name.ends_with('/');
    const std::uint32_t fileType = (externalAttributes >> 16) & kFileTypeMask;
    EntryKind kind = namedAsDirectory ? EntryKind::directory : EntryKind::file;
    switch (fileType) {
        case 0:
            // Archives from hosts without Unix modes mark folders with the DOS attribute only.
            require((externalAttributes & kDosDirectoryAttribute) == 0 || namedAsDirectory);
            break;
        case kRegularFileType:
            kind = EntryKind::file;
            break;
        case kDirectoryType:
            kind = EntryKind::directory;
            break;
        case kSymbolicLinkType:
            kind = EntryKind::symbolicLink;
            break;
        default:
            refuse();  // devices, FIFOs and sockets have no place in a build
    }
    // Readers decide between file and folder differently (mode bits or the trailing slash), so
    // the two must agree.
    require((kind == EntryKind::directory) == namedAsDirectory);
    return kind;
}

std::vector<Entry> readCentralDirectory(const ByteView& archive, const CentralDirectory& directory,
                                        const std::stop_token& stop) {
    // Each record takes at least the fixed header, which bounds the count before reserving.
    require(directory.entryCount <= directory.size / kCentralHeaderSize);
    require(directory.entryCount <= kMaxEntryCount);
    std::vector<Entry> entries;
    entries.reserve(directory.entryCount);
    std::uint64_t offset = directory.offset;
    const std::uint64_t directoryEnd = directory.offset + directory.size;
    for (std::uint64_t index = 0; index < directory.entryCount; ++index) {
        throwIfStopRequested(stop);
        require(archive.u32(offset) == kCentralHeaderSignature);
        Entry entry;
        entry.flags = archive.u16(offset + 8);
        entry.method = archive.u16(offset + 10);
        entry.crc = archive.u32(offset + 16);
        const std::uint32_t compressedSize = archive.u32(offset + 20);
        const std::uint32_t uncompressedSize = archive.u32(offset + 24);
        const std::uint16_t nameLength = archive.u16(offset + 28);
        const std::uint16_t extraLength = archive.u16(offset + 30);
        const std::uint16_t commentLength = archive.u16(offset + 32);
        const std::uint16_t startDisk = archive.u16(offset + 34);
        entry.externalAttributes = archive.u32(offset + 38);
        const std::uint32_t localHeaderOffset = archive.u32(offset + 42);
        require(nameLength <= kMaxNameLength);
        entry.name = asText(archive.slice(offset + kCentralHeaderSize, nameLength));
        const auto fields =
            parseExtraFields(archive.slice(offset + kCentralHeaderSize + nameLength, extraLength));
        offset += kCentralHeaderSize + nameLength + extraLength + commentLength;
        require(offset <= directoryEnd);

        Zip64Values wide(findExtraField(fields, kZip64ExtraId));
        entry.uncompressedSize = wide.widen(uncompressedSize, k32BitSentinel);
        entry.compressedSize = wide.widen(compressedSize, k32BitSentinel);
        entry.localHeaderOffset = wide.widen(localHeaderOffset, k32BitSentinel);
        require(wide.widen(startDisk, k16BitSentinel) == 0);
        requireUnicodePathAgrees(fields, entry.name);

        require((entry.flags & kFlagsRefused) == 0);
        require(entry.method == kMethodStored || entry.method == kMethodDeflated);
        entry.kind = kindOf(entry.name, entry.externalAttributes);
        entries.push_back(std::move(entry));
    }
    require(offset == directoryEnd);
    return entries;
}

// Where the data descriptor after an entry's data ends. It may or may not open with its
// signature; its values must be the central directory's.
std::uint64_t dataDescriptorEnd(const ByteView& archive, const Entry& entry, std::uint64_t at,
                                bool wideSizes) {
    const std::size_t width = wideSizes ? 8 : 4;
    for (const bool signed_ : {true, false}) {
        std::uint64_t offset = at;
        if (signed_) {
            if (!archive.contains(offset, 4) || archive.u32(offset) != kDataDescriptorSignature) {
                continue;
            }
            offset += 4;
        }
        if (archive.contains(offset, 4 + 2 * width) && archive.u32(offset) == entry.crc &&
            archive.little(offset + 4, width) == entry.compressedSize &&
            archive.little(offset + 4 + width, width) == entry.uncompressedSize) {
            return offset + 4 + 2 * width;
        }
    }
    refuse();
}

// Checks the local header against the central record and locates the entry's data.
void readLocalHeader(const ByteView& archive, std::uint64_t directoryOffset, Entry& entry,
                     ZipLayout layout) {
    const std::uint64_t offset = entry.localHeaderOffset;
    require(archive.u32(offset) == kLocalHeaderSignature);
    const std::uint16_t flags = archive.u16(offset + 6);
    const std::uint16_t method = archive.u16(offset + 8);
    const std::uint32_t crc = archive.u32(offset + 14);
    const std::uint32_t compressedSize = archive.u32(offset + 18);
    const std::uint32_t uncompressedSize = archive.u32(offset + 22);
    const std::uint16_t nameLength = archive.u16(offset + 26);
    const std::uint16_t extraLength = archive.u16(offset + 28);
    const std::string_view name = asText(archive.slice(offset + kLocalHeaderSize, nameLength));
    const auto fields =
        parseExtraFields(archive.slice(offset + kLocalHeaderSize + nameLength, extraLength),
                         layout == ZipLayout::androidPackage);

    require(name == entry.name);
    require(method == entry.method);
    require((flags & kFlagsThatMustAgree) == (entry.flags & kFlagsThatMustAgree));
    requireUnicodePathAgrees(fields, entry.name);

    Zip64Values wide(findExtraField(fields, kZip64ExtraId));
    const std::uint64_t localUncompressed = wide.widen(uncompressedSize, k32BitSentinel);
    const std::uint64_t localCompressed = wide.widen(compressedSize, k32BitSentinel);
    const bool deferred = (entry.flags & kFlagDataDescriptor) != 0;
    // With a data descriptor the local values may be left zero; any value given must agree.
    const auto agrees = [deferred](std::uint64_t local, std::uint64_t central) {
        return local == central || (deferred && local == 0);
    };
    require(agrees(crc, entry.crc) && agrees(localCompressed, entry.compressedSize) &&
            agrees(localUncompressed, entry.uncompressedSize));

    const std::uint64_t dataOffset = offset + kLocalHeaderSize + nameLength + extraLength;
    require(dataOffset <= directoryOffset && entry.compressedSize <= directoryOffset - dataOffset);
    entry.data = archive.slice(dataOffset, entry.compressedSize);
    entry.end = dataOffset + entry.compressedSize;
    if (deferred) {
        // A streaming reader finds the end of stored data by searching for the descriptor's
        // signature, so stored data holding one would be split where this scan does not split.
        constexpr std::string_view kSignatureBytes("PK\x07\x08", 4);
        require(entry.method != kMethodStored ||
                asText(entry.data).find(kSignatureBytes) == std::string_view::npos);
        entry.end = dataDescriptorEnd(archive, entry, entry.end, wide.present());
    }
}

// An APK Signing Block filling [begin, end) exactly: its size (counting all but that field),
// length-prefixed ID-value pairs, the size again and the magic text.
void requireSigningBlock(const ByteView& archive, std::uint64_t begin, std::uint64_t end) {
    constexpr std::string_view kMagic = "APK Sig Block 42";
    constexpr std::uint64_t kTrailerSize = 8 + 16;
    require(end - begin >= 8 + kTrailerSize);
    const std::uint64_t size = end - begin - 8;
    require(archive.u64(begin) == size && archive.u64(end - kTrailerSize) == size &&
            asText(archive.slice(end - 16, 16)) == kMagic);
    std::uint64_t offset = begin + 8;
    while (offset < end - kTrailerSize) {
        const std::uint64_t remaining = end - kTrailerSize - offset;
        require(remaining >= 8);
        const std::uint64_t length = archive.u64(offset);
        require(length >= 4 && length <= remaining - 8);  // an ID of 4 bytes, then its value
        offset += 8 + length;
    }
}

// Every byte before the central directory belongs to exactly one entry, in order: no junk in
// front, no gaps a second reader could find entries in, no data shared between entries. An
// Android package may end the entries with its signing block.
void requireEntriesTileArchive(const ByteView& archive, const std::vector<const Entry*>& byOffset,
                               std::uint64_t directoryOffset, ZipLayout layout) {
    std::uint64_t expected = 0;
    for (const Entry* entry : byOffset) {
        require(entry->localHeaderOffset == expected);
        expected = entry->end;
    }
    if (layout == ZipLayout::androidPackage && expected != directoryOffset) {
        requireSigningBlock(archive, expected, directoryOffset);
        return;
    }
    require(expected == directoryOffset);
}

// Valid UTF-8 without control characters (C0, DEL, C1) or the Unicode line and paragraph
// separators, any of which would split or disguise a name in a listing.
void requirePrintableText(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size()) {
        const auto codePoint = decodeUtf8At(text, index);
        require(codePoint.has_value());
        require(*codePoint >= 0x20 && !(*codePoint >= 0x7F && *codePoint <= 0x9F) &&
                *codePoint != 0x2028 && *codePoint != 0x2029);
    }
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char character) { return static_cast<unsigned char>(character) < 0x80; });
}

std::vector<std::string> splitComponents(std::string_view path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        components.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return components;
}

// The name as the Mac's case-insensitive file system sees it: "." and empty components
// dropped, ASCII letters folded. Non-ASCII folding is not needed for safety because archives
// holding links must be all ASCII (see requireSafeLinks).
std::vector<std::string> foldedComponents(std::string_view path) {
    std::vector<std::string> folded;
    for (std::string component : splitComponents(path)) {
        if (component.empty() || component == ".") {
            continue;
        }
        std::transform(component.begin(), component.end(), component.begin(), [](char character) {
            return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a')
                                                          : character;
        });
        folded.push_back(std::move(component));
    }
    return folded;
}

std::string joinComponents(const std::vector<std::string>& components, std::size_t count) {
    std::string joined;
    for (std::size_t index = 0; index < count; ++index) {
        if (index > 0) {
            joined += '/';
        }
        joined += components[index];
    }
    return joined;
}

void requireSafeName(std::string_view name) {
    require(!name.empty());
    requirePrintableText(name);
    require(staysBelowDestination(name));
    const auto components = splitComponents(name);
    for (std::size_t index = 0; index < components.size(); ++index) {
        // Only a folder's trailing slash may leave an empty component.
        require(!components[index].empty() || index + 1 == components.size());
    }
    require(components.size() - (name.ends_with('/') ? 1 : 0) <= kMaxNameDepth);
}

// The bytes the unpacked tree may take, charged as the scan finds them.
class SizeBudget {
  public:
    void charge(std::uint64_t bytes) {
        if (bytes > kExtractedTreeLimit - used_) {
            throw QuayletError::unsafeArchive(std::string(kTooLargeMessage));
        }
        used_ += bytes;
    }

  private:
    std::uint64_t used_ = 0;
};

// Names must be unique even when letter case is ignored, and no entry may sit below a file or
// a symbolic link: a write below a link would land wherever the link points. The paths are
// kept as a tree of components, so each name is read once however deep it goes, and every
// folder the tree gains, named or implied, is charged to the budget.
void requireDistinctPaths(const std::vector<Entry>& entries, SizeBudget& budget,
                          const std::stop_token& stop) {
    struct Node {
        EntryKind kind;
        bool named;  // an entry of its own rather than a folder implied by a deeper name
    };
    struct Key {
        std::uint32_t parent;
        std::string_view component;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept {
            return std::hash<std::string_view>{}(key.component) ^ (std::size_t{key.parent} << 1);
        }
    };
    std::vector<std::string> paths;  // reserved, so the keys' views stay put
    paths.reserve(entries.size());
    std::vector<Node> nodes{{EntryKind::directory, true}};  // the destination
    std::unordered_map<Key, std::uint32_t, KeyHash> children;
    for (const Entry& entry : entries) {
        throwIfStopRequested(stop);
        const auto components = foldedComponents(entry.name);
        require(!components.empty());
        const std::string_view path =
            paths.emplace_back(joinComponents(components, components.size()));
        std::uint32_t parent = 0;
        std::size_t start = 0;
        for (;;) {
            require(nodes[parent].kind == EntryKind::directory);
            const std::size_t slash = std::min(path.find('/', start), path.size());
            const bool last = slash == path.size();
            const auto [child, added] =
                children.try_emplace(Key{parent, path.substr(start, slash - start)},
                                     static_cast<std::uint32_t>(nodes.size()));
            if (added) {
                nodes.push_back({last ? entry.kind : EntryKind::directory, last});
                if (nodes.back().kind == EntryKind::directory) {
                    budget.charge(kFolderFootprint);
                }
            } else if (last) {
                // Only a folder implied by an earlier, deeper name may be named afterwards.
                Node& node = nodes[child->second];
                require(!node.named && entry.kind == EntryKind::directory);
                node.named = true;
            }
            if (last) {
                break;
            }
            parent = child->second;
            start = slash + 1;
        }
    }
}

// The length a deflate stream decodes to when it is made only of stored blocks, as
// compressors write data they cannot shrink (media, compressed assets): every decoder copies
// such blocks as they stand, so the block headers alone give the length, without reading the
// data. Each block opens with three header bits, padding to the byte and the length and its
// complement in 16 bits each. Empty when any block is of another kind or any header is
// damaged, and when the final block does not end the data: the full decoder judges those.
// The headers go through copy when it is given, else they are read in place.
std::optional<std::uint64_t> storedStreamLength(
    Bytes stream, const std::function<void(Bytes, std::uint8_t*)>& copy) {
    constexpr std::uint64_t kStoredHeaderSize = 5;
    const ByteView view(stream);
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    for (;;) {
        if (!view.contains(offset, kStoredHeaderSize)) {
            return std::nullopt;
        }
        std::uint8_t header[kStoredHeaderSize];
        const Bytes bytes = view.slice(offset, kStoredHeaderSize);
        if (copy) {
            copy(bytes, header);
        } else {
            std::copy(bytes.begin(), bytes.end(), header);
        }
        const auto blockLength = std::uint16_t(header[1] | header[2] << 8);
        const auto complement = std::uint16_t(header[3] | header[4] << 8);
        const bool final = (header[0] & 1U) != 0;
        const bool stored = ((header[0] >> 1) & 3U) == 0;
        if (!stored || (blockLength ^ complement) != 0xFFFF ||
            !view.contains(offset + kStoredHeaderSize, blockLength)) {
            return std::nullopt;
        }
        offset += kStoredHeaderSize + blockLength;
        length += blockLength;
        if (final) {
            return offset == view.size() ? std::optional(length) : std::nullopt;
        }
    }
}

// Proves that entries yield exactly their declared number of bytes and that each deflate
// stream ends exactly at the end of its data. Inflating is most of the scan's cost: libdeflate
// decodes a whole buffer about twice as fast as zlib's streaming inflate, so entries up to
// kWholeBufferLimit go through it, and only larger ones stream through zlib in bounded memory.
// Streams of stored blocks alone are measured by their headers instead.
class EntryDataVerifier {
  public:
    // Two verifiers run at once, so this bounds the scan's own memory to about twice it.
    static constexpr std::uint64_t kWholeBufferLimit = 8 * 1024 * 1024;
    static constexpr std::uint64_t kMeasureBeforeMappingSize = 1024 * 1024;

    EntryDataVerifier()
        : decompressor_(libdeflate_alloc_decompressor(), &libdeflate_free_decompressor) {
        if (!decompressor_) {
            throw std::bad_alloc();
        }
    }

    // The entry's bytes when keepBytes is set (link targets), otherwise nothing.
    std::string verify(const Entry& entry, bool keepBytes, const DataPaging& paging,
                       const std::stop_token& stop) {
        throwIfStopRequested(stop);
        if (entry.method == kMethodStored) {
            require(entry.compressedSize == entry.uncompressedSize);
            return keepBytes ? std::string(asText(entry.data)) : std::string();
        }
        // A long stream is measured by its block headers before its pages are mapped, so
        // that one of stored blocks never has them mapped; for a short one, the calls that
        // would spare that cost more than mapping it at once.
        const bool measureFirst = entry.data.size() >= kMeasureBeforeMappingSize;
        const auto mapPages = [&] {
            if (paging.willRead) {
                paging.willRead(entry.data);
            }
        };
        if (!measureFirst) {
            mapPages();
        }
        if (!keepBytes) {
            if (const auto storedLength =
                    storedStreamLength(entry.data, measureFirst ? paging.copy : nullptr)) {
                require(*storedLength == entry.uncompressedSize);
                return {};
            }
        }
        if (measureFirst) {
            mapPages();
        }
        if (entry.uncompressedSize <= kWholeBufferLimit) {
            return inflateWhole(entry, keepBytes);
        }
        return inflateStreaming(entry, keepBytes, stop);
    }

  private:
    std::string inflateWhole(const Entry& entry, bool keepBytes) {
        // One byte more than declared always fits, so a longer stream shows as missing space.
        const auto declared = static_cast<std::size_t>(entry.uncompressedSize);
        if (buffer_.size() < declared + 1) {
            buffer_.resize(declared + 1);
        }
        std::size_t consumed = 0;
        std::size_t produced = 0;
        const libdeflate_result result = libdeflate_deflate_decompress_ex(
            decompressor_.get(), entry.data.data(), entry.data.size(), buffer_.data(), declared + 1,
            &consumed, &produced);
        require(result == LIBDEFLATE_SUCCESS && consumed == entry.data.size() &&
                produced == declared);
        return keepBytes ? std::string(reinterpret_cast<const char*>(buffer_.data()), produced)
                         : std::string();
    }

    std::string inflateStreaming(const Entry& entry, bool keepBytes, const std::stop_token& stop) {
        z_stream stream{};
        require(inflateInit2(&stream, -MAX_WBITS) == Z_OK);
        struct InflateEnd {
            z_stream& stream;
            ~InflateEnd() { inflateEnd(&stream); }
        } inflateEnd{stream};

        if (buffer_.size() < kStreamingOutputSize) {
            buffer_.resize(kStreamingOutputSize);
        }
        std::string kept;
        const std::uint8_t* next = entry.data.data();
        std::uint64_t remaining = entry.data.size();
        std::uint64_t produced = 0;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            throwIfStopRequested(stop);
            if (stream.avail_in == 0 && remaining > 0) {
                const std::uint64_t chunk = std::min(remaining, kStreamingInputChunk);
                stream.next_in = const_cast<Bytef*>(next);
                stream.avail_in = static_cast<uInt>(chunk);
                next += chunk;
                remaining -= chunk;
            }
            stream.next_out = buffer_.data();
            stream.avail_out = static_cast<uInt>(kStreamingOutputSize);
            status = inflate(&stream, Z_NO_FLUSH);
            require(status == Z_OK || status == Z_STREAM_END);
            const std::size_t written = kStreamingOutputSize - stream.avail_out;
            produced += written;
            require(produced <= entry.uncompressedSize);
            if (keepBytes) {
                kept.append(reinterpret_cast<const char*>(buffer_.data()), written);
            }
        }
        require(produced == entry.uncompressedSize && stream.avail_in == 0 && remaining == 0);
        return kept;
    }

    static constexpr std::size_t kStreamingOutputSize = 256 * 1024;
    static constexpr std::uint64_t kStreamingInputChunk = 1U << 30;  // zlib counts in 32 bits

    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor_;
    std::vector<std::uint8_t> buffer_;
};

// What each of the two scanning threads may hold of verified data before giving it back: a
// few megabytes more of resident archive, against a few calls per archive instead of one per
// entry.
constexpr std::ptrdiff_t kReleaseBatch = 4 * 1024 * 1024;

// Verifies every entry's data and returns the link targets by folded path. Inflating dominates
// the scan, so the entries (in file order) are split by compressed size between this thread
// and one helper; the first failure stops both at their next entry and is rethrown.
std::map<std::string, std::string> verifyAllEntryData(const std::vector<const Entry*>& byOffset,
                                                      const std::stop_token& stop,
                                                      const DataPaging& paging) {
    struct Share {
        std::span<const Entry* const> entries;
        std::vector<std::pair<std::string, std::string>> linkTargets;
        std::exception_ptr failure;
    };
    std::uint64_t total = 0;
    for (const Entry* entry : byOffset) {
        total += entry->compressedSize;
    }
    std::size_t split = 0;
    for (std::uint64_t firstHalf = 0; split < byOffset.size() && firstHalf < total / 2; ++split) {
        firstHalf += byOffset[split]->compressedSize;
    }
    Share shares[2];
    shares[0].entries = std::span(byOffset).first(split);
    shares[1].entries = std::span(byOffset).subspan(split);
    std::atomic<bool> failed = false;
    const auto work = [&](Share& share) {
        try {
            EntryDataVerifier verifier;
            // Each release flushes every core's address translations, too dear to pay per
            // entry: a share's entries lie in file order, so their data is handed back in
            // stretches of at least kReleaseBatch bytes.
            const std::uint8_t* unreleased = nullptr;
            for (const Entry* entry : share.entries) {
                if (failed.load()) {
                    return;
                }
                const bool isLink = entry->kind == EntryKind::symbolicLink;
                require(!isLink || entry->uncompressedSize <= kMaxLinkTargetLength);
                std::string kept = verifier.verify(*entry, isLink, paging, stop);
                if (unreleased == nullptr) {
                    unreleased = entry->data.data();
                }
                const std::uint8_t* verifiedEnd = entry->data.data() + entry->data.size();
                if (paging.verified &&
                    (verifiedEnd - unreleased >= kReleaseBatch || entry == share.entries.back())) {
                    paging.verified({unreleased, verifiedEnd});
                    unreleased = verifiedEnd;
                }
                if (isLink) {
                    const auto components = foldedComponents(entry->name);
                    share.linkTargets.emplace_back(joinComponents(components, components.size()),
                                                   std::move(kept));
                }
            }
        } catch (...) {
            share.failure = std::current_exception();
            failed = true;
        }
    };
    {
        const std::jthread helper(work, std::ref(shares[1]));
        work(shares[0]);
    }
    std::map<std::string, std::string> linkTargets;
    for (Share& share : shares) {
        if (share.failure) {
            std::rethrow_exception(share.failure);
        }
        linkTargets.insert(share.linkTargets.begin(), share.linkTargets.end());
    }
    return linkTargets;
}

// Every link must resolve, lexically and component by component from its own folder and through
// the archive's other links, to a place inside the destination without ever leaving it.
void requireSafeLinks(const std::vector<Entry>& entries,
                      const std::map<std::string, std::string>& linkTargets,
                      const std::stop_token& stop) {
    if (linkTargets.empty()) {
        return;
    }
    // Case folding beyond ASCII (and Unicode normalisation) would be needed to know which names
    // the Mac's file system treats as one; builds with links are held to ASCII instead.
    for (const Entry& entry : entries) {
        require(isAscii(entry.name));
    }
    for (const auto& [path, target] : linkTargets) {
        require(!target.empty() && target.size() <= kMaxLinkTargetLength && isAscii(target));
        requirePrintableText(target);
        require(target.front() != '/');
    }
    for (const auto& [path, target] : linkTargets) {
        throwIfStopRequested(stop);
        std::vector<std::string> position = splitComponents(path);
        position.pop_back();
        const auto targetComponents = foldedComponents(target);
        std::deque<std::string> pending(targetComponents.begin(), targetComponents.end());
        int hops = 0;
        while (!pending.empty()) {
            throwIfStopRequested(stop);
            const std::string component = std::move(pending.front());
            pending.pop_front();
            if (component == "..") {
                require(!position.empty());
                position.pop_back();
                continue;
            }
            position.push_back(component);
            const auto link = linkTargets.find(joinComponents(position, position.size()));
            if (link != linkTargets.end()) {
                require(++hops <= kMaxLinkHops);
                position.pop_back();
                const auto expansion = foldedComponents(link->second);
                pending.insert(pending.begin(), expansion.begin(), expansion.end());
            }
        }
    }
}

// The entries, whose data lies in bytes.
std::vector<Entry> scanArchive(Bytes bytes, const std::stop_token& stop, const DataPaging& paging,
                               ZipDataScan dataScan, ZipLayout layout = ZipLayout::plain) {
    const ByteView archive(bytes);
    const CentralDirectory directory = readEndRecords(archive);
    std::vector<Entry> entries = readCentralDirectory(archive, directory, stop);
    if (entries.empty()) {
        throw QuayletError::unsafeArchive(std::string(kEmptyBuildMessage));
    }
    std::vector<const Entry*> byOffset;
    for (Entry& entry : entries) {
        throwIfStopRequested(stop);
        readLocalHeader(archive, directory.offset, entry, layout);
        byOffset.push_back(&entry);
    }
    std::sort(byOffset.begin(), byOffset.end(), [](const Entry* left, const Entry* right) {
        return left->localHeaderOffset < right->localHeaderOffset;
    });
    requireEntriesTileArchive(archive, byOffset, directory.offset, layout);

    for (const Entry& entry : entries) {
        throwIfStopRequested(stop);
        requireSafeName(entry.name);
    }
    SizeBudget budget;
    for (const Entry& entry : entries) {
        budget.charge(entry.uncompressedSize);
    }
    requireDistinctPaths(entries, budget, stop);

    if (dataScan == ZipDataScan::linksOnly) {
        std::erase_if(byOffset,
                      [](const Entry* entry) { return entry->kind != EntryKind::symbolicLink; });
    }
    const std::map<std::string, std::string> linkTargets =
        verifyAllEntryData(byOffset, stop, paging);
    requireSafeLinks(entries, linkTargets, stop);
    return entries;
}

}  // namespace

void preflightZipArchive(std::span<const std::uint8_t> bytes, std::stop_token stop) {
    scanArchive(bytes, stop, {}, ZipDataScan::everyEntry);
}

namespace {

// Hands the file's bytes, mapped into memory, to scan, with the paging that keeps only the
// pages being read resident.
void withMappedArchive(const std::filesystem::path& archive,
                       const std::function<void(Bytes, const DataPaging&)>& scan) {
    const FileDescriptor file = FileDescriptor::openForReading(archive);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throw systemError("Cannot read file", archive);
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    if (size == 0) {
        scan({}, {});
        return;
    }
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
    if (mapping == MAP_FAILED) {
        throw systemError("Cannot map file", archive);
    }
    struct Unmapper {
        void* mapping;
        std::size_t size;
        ~Unmapper() { ::munmap(mapping, size); }
    } unmapper{mapping, size};
    ::madvise(mapping, size, MADV_SEQUENTIAL);
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    // The pages holding any of the bytes (outward), or only those holding nothing else.
    const auto pages = [pageSize](Bytes bytes, bool outward) {
        const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
        const std::uintptr_t end = begin + bytes.size();
        const std::uintptr_t first = (outward ? begin : begin + pageSize - 1) / pageSize * pageSize;
        const std::uintptr_t last = (outward ? end + pageSize - 1 : end) / pageSize * pageSize;
        return std::pair(reinterpret_cast<void*>(first), last > first ? last - first : 0);
    };
    DataPaging paging;
#ifdef MADV_POPULATE_READ
    // An older kernel refuses the advice, and the pages then come in fault by fault as before.
    paging.willRead = [pages](Bytes data) {
        const auto [first, length] = pages(data, true);
        ::madvise(first, length, MADV_POPULATE_READ);
    };
#endif
    // A read costs one call where touching the mapping would map the pages around the bytes,
    // every one of them, once per block of a long stream of stored blocks.
    paging.copy = [descriptor = file.get(), mapping](Bytes bytes, std::uint8_t* into) {
        const auto offset = off_t(bytes.data() - static_cast<const std::uint8_t*>(mapping));
        if (::pread(descriptor, into, bytes.size(), offset) != ssize_t(bytes.size())) {
            std::copy(bytes.begin(), bytes.end(), into);
        }
    };
    // A page shared with a neighbour that is still needed is simply read from the file again.
    paging.verified = [pages](Bytes data) {
        const auto [first, length] = pages(data, false);
        if (length > 0) {
            ::madvise(first, length, MADV_DONTNEED);
        }
    };
    scan({static_cast<const std::uint8_t*>(mapping), size}, paging);
}

ScannedZip scanApk(Bytes bytes, std::string_view entryName, std::uint64_t maxEntrySize,
                   const std::stop_token& stop, const DataPaging& paging) {
    ScannedZip scanned;
    for (const Entry& entry :
         scanArchive(bytes, stop, paging, ZipDataScan::everyEntry, ZipLayout::androidPackage)) {
        scanned.entryNames.push_back(entry.name);
        if (entry.name == entryName && entry.kind == EntryKind::file &&
            entry.uncompressedSize <= maxEntrySize) {
            scanned.entryData = EntryDataVerifier().verify(entry, true, {}, stop);
        }
    }
    return scanned;
}

}  // namespace

void preflightZipFile(const std::filesystem::path& archive, std::stop_token stop,
                      ZipDataScan dataScan) {
    withMappedArchive(archive, [&](Bytes bytes, const DataPaging& paging) {
        scanArchive(bytes, stop, paging, dataScan);
    });
}

ScannedZip preflightApkArchive(std::span<const std::uint8_t> bytes, std::string_view entryName,
                               std::uint64_t maxEntrySize, std::stop_token stop) {
    return scanApk(bytes, entryName, maxEntrySize, stop, {});
}

ScannedZip preflightApkFile(const std::filesystem::path& archive, std::string_view entryName,
                            std::uint64_t maxEntrySize, std::stop_token stop) {
    ScannedZip scanned;
    withMappedArchive(archive, [&](Bytes bytes, const DataPaging& paging) {
        scanned = scanApk(bytes, entryName, maxEntrySize, stop, paging);
    });
    return scanned;
}

}  // namespace quaylet
