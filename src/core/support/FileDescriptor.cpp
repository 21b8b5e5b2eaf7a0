#include "core/support/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quaylet {

FileDescriptor FileDescriptor::openForReading(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        throw std::filesystem::filesystem_error("Cannot open file", file,
                                                std::error_code(errno, std::generic_category()));
    }
    return FileDescriptor(descriptor);
}

FileDescriptor::~FileDescriptor() {
    ::close(descriptor_);  // a read-only descriptor has nothing to lose on close
}

}  // namespace quaylet
