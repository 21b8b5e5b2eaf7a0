#include "hosttools/ZipFixture.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace quaylet::testing {
namespace {

constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::size_t kCentralUncompressedSize = 24;
constexpr std::size_t kCentralNameLength = 28;
constexpr std::size_t kCentralExternalAttributes = 38;
constexpr std::size_t kCentralLocalOffset = 42;
constexpr std::size_t kCentralName = 46;
constexpr std::size_t kLocalUncompressedSize = 22;

std::uint32_t readLittle(const std::string& bytes, std::size_t offset, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t index = width; index-- > 0;) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + index));
    }
    return value;
}

void writeLittle(std::string& bytes, std::size_t offset, std::size_t width, std::uint32_t value) {
    for (std::size_t index = 0; index < width; ++index) {
        bytes.at(offset + index) = static_cast<char>((value >> (8 * index)) & 0xff);
    }
}

void check(int status, archive* handle) {
    if (status != ARCHIVE_OK) {
        throw std::runtime_error(archive_error_string(handle));
    }
}

}  // namespace

void writeZip(const std::filesystem::path& path, const std::vector<ZipEntrySpec>& entries) {
    archive* writer = archive_write_new();
    archive_write_set_format_zip(writer);
    check(archive_write_set_options(writer, "zip:compression=store"), writer);
    check(archive_write_open_filename(writer, path.c_str()), writer);
    for (const ZipEntrySpec& spec : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, spec.name.c_str());
        archive_entry_set_perm(entry, spec.permissions);
        switch (spec.kind) {
            case ZipEntrySpec::Kind::file:
                archive_entry_set_filetype(entry, AE_IFREG);
                archive_entry_set_size(entry, static_cast<la_int64_t>(spec.data.size()));
                break;
            case ZipEntrySpec::Kind::directory:
                archive_entry_set_filetype(entry, AE_IFDIR);
                break;
            case ZipEntrySpec::Kind::symlink:
                archive_entry_set_filetype(entry, AE_IFLNK);
                archive_entry_set_symlink(entry, spec.data.c_str());
                break;
        }
        check(archive_write_header(writer, entry), writer);
        if (spec.kind == ZipEntrySpec::Kind::file &&
            archive_write_data(writer, spec.data.data(), spec.data.size()) !=
                static_cast<la_ssize_t>(spec.data.size())) {
            throw std::runtime_error(archive_error_string(writer));
        }
        archive_entry_free(entry);
    }
    check(archive_write_close(writer), writer);
    archive_write_free(writer);
}

void patchZipEntry(const std::filesystem::path& path, const std::string& name, ZipField field,
                   std::uint32_t value) {
    std::string bytes;
    {
        std::ifstream input(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(input), {});
    }
    bool patched = false;
    for (std::size_t offset = 0; offset + kCentralName <= bytes.size(); ++offset) {
        if (readLittle(bytes, offset, 4) != kCentralSignature) {
            continue;
        }
        const std::size_t nameLength = readLittle(bytes, offset + kCentralNameLength, 2);
        if (bytes.compare(offset + kCentralName, nameLength, name) != 0 ||
            nameLength != name.size()) {
            continue;
        }
        if (field == ZipField::unixMode) {
            // The Unix mode lives in the high half of the external attributes.
            const std::uint32_t attributes =
                readLittle(bytes, offset + kCentralExternalAttributes, 4);
            writeLittle(bytes, offset + kCentralExternalAttributes, 4,
                        (attributes & 0xffff) | (value << 16));
        } else {
            writeLittle(bytes, offset + kCentralUncompressedSize, 4, value);
            const std::size_t local = readLittle(bytes, offset + kCentralLocalOffset, 4);
            if (readLittle(bytes, local + kLocalUncompressedSize, 4) != 0) {
                writeLittle(bytes, local + kLocalUncompressedSize, 4, value);
            }
        }
        patched = true;
    }
    if (!patched) {
        throw std::runtime_error("no central directory entry named " + name);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace quaylet::testing
