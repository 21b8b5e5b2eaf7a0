#include "hosttools/StateFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "core/support/SystemError.h"

namespace quaylet::hosttools {
namespace {

void writeAll(int descriptor, const std::string& text, const std::string& path) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw systemError("cannot write " + path);
        }
        written += static_cast<std::size_t>(count);
    }
}

}  // namespace

std::filesystem::path stateFolder(const char* variable, const char* name, const char* what) {
    if (const char* home = std::getenv(variable); home != nullptr && *home != 0) {
        return home;
    }
    std::filesystem::path dataHome;
    // The base directory convention ignores relative values.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        dataHome = xdg;
    } else if (const char* user = std::getenv("HOME"); user != nullptr && *user != 0) {
        dataHome = std::filesystem::path(user) / ".local" / "share";
    } else {
        throw std::runtime_error(std::string("cannot find the ") + what + ": set " + variable +
                                 " or HOME");
    }
    return dataHome / "quaylet" / name;
}

ExclusiveLock::ExclusiveLock(const std::filesystem::path& lockFile)
    : descriptor_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (descriptor_ < 0) {
        throw systemError("cannot open " + lockFile.string());
    }
    while (::flock(descriptor_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const std::system_error error = systemError("cannot lock " + lockFile.string());
            ::close(descriptor_);
            throw error;
        }
    }
}

ExclusiveLock::~ExclusiveLock() {
    ::close(descriptor_);
}

void replaceFile(const std::filesystem::path& file, const std::string& text) {
    std::string temporary = file.string() + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        throw systemError("cannot create a file beside " + file.string());
    }
    bool closed = false;
    try {
        writeAll(descriptor, text, temporary);
        // Make the bytes durable before the rename publishes them.
        if (::fsync(descriptor) != 0) {
            throw systemError("cannot flush " + temporary);
        }
        closed = true;  // close releases the descriptor even when it reports an error
        if (::close(descriptor) != 0) {
            throw systemError("cannot close " + temporary);
        }
        if (::rename(temporary.c_str(), file.c_str()) != 0) {
            throw systemError("cannot replace " + file.string());
        }
    } catch (...) {
        if (!closed) {
            ::close(descriptor);
        }
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace quaylet::hosttools
