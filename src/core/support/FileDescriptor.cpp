#include "core/support/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/support/SystemError.h"

namespace quaylet {

FileDescriptor FileDescriptor::openForReading(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        throw systemError("Cannot open file", file);
    }
    return FileDescriptor(descriptor);
}

// Whatever went through a descriptor is read back or checked by its owner before it goes, so a
// failed close loses nothing.
FileDescriptor::~FileDescriptor() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

void FileDescriptor::reset(int descriptor) {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
    descriptor_ = descriptor;
}

}  // namespace quaylet
