#include "hosttools/ZipArchive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "core/support/SystemError.h"

namespace quaylet::hosttools {
namespace {

struct ReaderDeleter {
    void operator()(archive* handle) const { archive_read_free(handle); }
};
struct WriterDeleter {
    void operator()(archive* handle) const { archive_write_free(handle); }
};
using ArchiveReader = std::unique_ptr<archive, ReaderDeleter>;
using DiskWriter = std::unique_ptr<archive, WriterDeleter>;

constexpr std::size_t kReadBlockSize = 64 * 1024;

std::string errorText(archive* handle) {
    const char* text = archive_error_string(handle);
    std::string message = text != nullptr ? text : "unknown error";
    // Some of the library's messages end in a line break; ours end where the sentence does.
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) {
        message.pop_back();
    }
    return message;
}

// The seekable zip reader trusts the central directory rather than the local headers, so the
// names listed are the names extracted.
ArchiveReader openZip(const std::filesystem::path& file) {
    ArchiveReader reader(archive_read_new());
    if (!reader) {
        throw std::bad_alloc();
    }
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), file.c_str(), kReadBlockSize) != ARCHIVE_OK) {
        throw std::runtime_error(file.string() + ": " + errorText(reader.get()));
    }
    return reader;
}

// Returns the next entry or null at the end; a warning counts as damage, because a name the
// reader had to alter is not the stored name.
archive_entry* nextEntry(archive* reader, const std::filesystem::path& file) {
    archive_entry* entry = nullptr;
    const int status = archive_read_next_header(reader, &entry);
    if (status == ARCHIVE_EOF) {
        return nullptr;
    }
    if (status != ARCHIVE_OK) {
        throw std::runtime_error(file.string() + ": " + errorText(reader));
    }
    if (archive_entry_pathname(entry) == nullptr) {
        throw std::runtime_error(file.string() + ": an entry has no name");
    }
    return entry;
}

// Moves into a directory for the lifetime of the object and back out afterwards.
class WorkingDirectoryScope {
  public:
    explicit WorkingDirectoryScope(const std::filesystem::path& directory)
        : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (previous_ < 0 || ::chdir(directory.c_str()) != 0) {
            const std::system_error error = systemError("cannot enter " + directory.string());
            if (previous_ >= 0) {
                ::close(previous_);
            }
            throw error;
        }
    }
    ~WorkingDirectoryScope() {
        // Nothing sensible remains to do if the old directory vanished meanwhile.
        [[maybe_unused]] const int ignored = ::fchdir(previous_);
        ::close(previous_);
    }
    WorkingDirectoryScope(const WorkingDirectoryScope&) = delete;
    WorkingDirectoryScope& operator=(const WorkingDirectoryScope&) = delete;

  private:
    int previous_;
};

void refuseUnsupportedType(archive_entry* entry) {
    const std::string name = archive_entry_pathname(entry);
    if (archive_entry_hardlink(entry) != nullptr) {
        throw std::runtime_error(name + ": hard links are not extracted");
    }
    switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
        case AE_IFDIR:
        case AE_IFLNK:
            return;
        default:
            throw std::runtime_error(name +
                                     ": only files, folders and symbolic links are extracted");
    }
}

class Extraction {
  public:
    Extraction(archive* reader, archive* writer, std::uint64_t byteLimit)
        : reader_(reader), writer_(writer), byteLimit_(byteLimit) {}

    void extract(archive_entry* entry) {
        refuseUnsupportedType(entry);
        const std::string name = archive_entry_pathname(entry);
        if (archive_entry_filetype(entry) == AE_IFREG &&
            (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)) {
            throw std::runtime_error(name + ": the archive does not declare the file's size");
        }
        const bool regularFile = archive_entry_filetype(entry) == AE_IFREG;
        const auto declaredSize = static_cast<std::uint64_t>(archive_entry_size(entry));
        // The size is enforced here: left to the disk writer, it would silently cut longer data
        // and pad shorter data (even a few bytes of it) out to the declared size.
        archive_entry_unset_size(entry);
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(writer_, entry) != ARCHIVE_OK) {
            throw std::runtime_error(name + ": " + errorText(writer_));
        }
        if (regularFile) {
            copyData(name, declaredSize);
        }
        if (archive_write_finish_entry(writer_) != ARCHIVE_OK) {
            throw std::runtime_error(name + ": " + errorText(writer_));
        }
    }

  private:
    void copyData(const std::string& name, std::uint64_t declaredSize) {
        std::uint64_t entryBytes = 0;
        for (;;) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            const int status = archive_read_data_block(reader_, &block, &size, &offset);
            if (status == ARCHIVE_EOF) {
                break;
            }
            if (status != ARCHIVE_OK) {
                throw std::runtime_error(name + ": " + errorText(reader_));
            }
            // Checked before writing, so neither a lying entry nor the whole archive ever puts
            // more on disk than allowed.
            if (size > declaredSize - entryBytes) {
                throw std::runtime_error(name + ": the data is longer than the declared " +
                                         std::to_string(declaredSize) + " bytes");
            }
            if (size > byteLimit_ - totalBytes_) {
                throw std::runtime_error("the archive holds more than " +
                                         std::to_string(byteLimit_) + " bytes; extraction stopped");
            }
            if (archive_write_data_block(writer_, block, size, offset) != ARCHIVE_OK) {
                throw std::runtime_error(name + ": " + errorText(writer_));
            }
            entryBytes += size;
            totalBytes_ += size;
        }
        if (entryBytes != declaredSize) {
            throw std::runtime_error(name + ": the data is shorter than the declared " +
                                     std::to_string(declaredSize) + " bytes");
        }
    }

    archive* reader_;
    archive* writer_;
    std::uint64_t byteLimit_;
    std::uint64_t totalBytes_ = 0;
};

}  // namespace

std::vector<std::string> listZipEntries(const std::filesystem::path& archive) {
    const ArchiveReader reader = openZip(archive);
    std::vector<std::string> names;
    while (archive_entry* entry = nextEntry(reader.get(), archive)) {
        names.emplace_back(archive_entry_pathname(entry));
    }
    return names;
}

std::optional<std::string> readZipEntry(const std::filesystem::path& archive,
                                        const std::string& name, std::uint64_t byteLimit) {
    const ArchiveReader reader = openZip(archive);
    while (archive_entry* entry = nextEntry(reader.get(), archive)) {
        if (name != archive_entry_pathname(entry)) {
            continue;
        }
        std::string data;
        char buffer[64 * 1024];
        for (la_ssize_t count = 0;
             (count = archive_read_data(reader.get(), buffer, sizeof buffer)) != 0;) {
            if (count < 0) {
                throw std::runtime_error(name + ": " + errorText(reader.get()));
            }
            if (static_cast<std::uint64_t>(count) > byteLimit - data.size()) {
                throw std::runtime_error(name + ": longer than " + std::to_string(byteLimit) +
                                         " bytes");
            }
            data.append(buffer, static_cast<std::size_t>(count));
        }
        return data;
    }
    return std::nullopt;
}

void extractZip(const std::filesystem::path& archive, const std::filesystem::path& destination,
                std::uint64_t byteLimit) {
    std::filesystem::create_directories(destination);
    const ArchiveReader reader = openZip(std::filesystem::absolute(archive));
    // Declared before the writer so the writer, which fixes up folder modes and times on
    // close, is done before the working directory changes back.
    const WorkingDirectoryScope inDestination(destination);
    const DiskWriter writer(archive_write_disk_new());
    if (!writer) {
        throw std::bad_alloc();
    }
    archive_write_disk_set_options(
        writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                          ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    Extraction extraction(reader.get(), writer.get(), byteLimit);
    while (archive_entry* entry = nextEntry(reader.get(), archive)) {
        extraction.extract(entry);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) {
        throw std::runtime_error(destination.string() + ": " + errorText(writer.get()));
    }
}

}  // namespace quaylet::hosttools
