#include "core/support/ZipWriter.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <system_error>

#include "core/support/SystemError.h"

namespace quaylet {
namespace {

[[noreturn]] void throwArchiveError(archive* writer, const std::filesystem::path& file) {
    const int code = archive_errno(writer) > 0 ? archive_errno(writer) : EIO;
    const char* text = archive_error_string(writer);
    throw std::system_error(
        code, std::generic_category(),
        std::string(text ? text : "Cannot write the archive") + ": " + file.string());
}

}  // namespace

void writeZipAtomically(const std::filesystem::path& file, const std::vector<ZipEntry>& entries) {
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    const int descriptor = ::mkstemp(pattern.data());  // 0600 from the start
    if (descriptor < 0) {
        throw systemError("Cannot create a file in " + folder.string());
    }
    const std::filesystem::path temporary(pattern);
    bool open = true;
    try {
        const std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(),
                                                                             archive_write_free);
        if (archive_write_set_format_zip(writer.get()) != ARCHIVE_OK ||
            archive_write_open_fd(writer.get(), descriptor) != ARCHIVE_OK) {
            throwArchiveError(writer.get(), file);
        }
        const std::time_t now = std::time(nullptr);
        for (const ZipEntry& item : entries) {
            const std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(
                archive_entry_new(), archive_entry_free);
            archive_entry_set_pathname(entry.get(), item.name.c_str());
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0600);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.contents.size()));
            archive_entry_set_mtime(entry.get(), now, 0);
            if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK ||
                archive_write_data(writer.get(), item.contents.data(), item.contents.size()) !=
                    static_cast<la_ssize_t>(item.contents.size())) {
                throwArchiveError(writer.get(), file);
            }
        }
        if (archive_write_close(writer.get()) != ARCHIVE_OK) {
            throwArchiveError(writer.get(), file);
        }
        if (::fsync(descriptor) != 0) {
            throw systemError("Cannot write " + file.string());
        }
        open = false;
        ::close(descriptor);
        std::filesystem::rename(temporary, file);
    } catch (...) {
        if (open) {
            ::close(descriptor);
        }
        std::error_code ignored;  // the failure being thrown is the one that matters
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

}  // namespace quaylet
