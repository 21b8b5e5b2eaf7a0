#include "hosttools/DeviceSetStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace quaylet::hosttools {
namespace {

std::system_error lastSystemError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

// An exclusive flock held for the lifetime of the object.
class ExclusiveLock {
  public:
    explicit ExclusiveLock(const std::filesystem::path& lockFile)
        : descriptor_(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (descriptor_ < 0) {
            throw lastSystemError("cannot open " + lockFile.string());
        }
        while (::flock(descriptor_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const std::system_error error = lastSystemError("cannot lock " + lockFile.string());
                ::close(descriptor_);
                throw error;
            }
        }
    }
    ~ExclusiveLock() { ::close(descriptor_); }  // closing releases the lock
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  private:
    int descriptor_;
};

void writeAll(int descriptor, const std::string& text, const std::string& path) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(descriptor, text.data() + written, text.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw lastSystemError("cannot write " + path);
        }
        written += static_cast<std::size_t>(count);
    }
}

}  // namespace

DeviceSetStore::DeviceSetStore(std::filesystem::path home) : home_(std::move(home)) {}

std::filesystem::path DeviceSetStore::defaultHome() {
    if (const char* home = std::getenv("QUAYLET_SIMULATOR_HOME"); home != nullptr && *home != 0) {
        return home;
    }
    std::filesystem::path dataHome;
    // The base directory convention ignores relative values.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        dataHome = xdg;
    } else if (const char* user = std::getenv("HOME"); user != nullptr && *user != 0) {
        dataHome = std::filesystem::path(user) / ".local" / "share";
    } else {
        throw std::runtime_error(
            "cannot find the simulated device set: set QUAYLET_SIMULATOR_HOME or HOME");
    }
    return dataHome / "quaylet" / "simulator";
}

std::filesystem::path DeviceSetStore::devicesFile() const {
    return home_ / "devices.json";
}

std::filesystem::path DeviceSetStore::deviceFolder(const std::string& udid) const {
    return home_ / "devices" / udid;
}

DeviceSet DeviceSetStore::read() const {
    std::filesystem::create_directories(home_);
    const ExclusiveLock lock(home_ / "devices.lock");
    return loadOrSeed();
}

void DeviceSetStore::update(const std::function<void(DeviceSet&)>& change) const {
    std::filesystem::create_directories(home_);
    const ExclusiveLock lock(home_ / "devices.lock");
    DeviceSet set = loadOrSeed();
    change(set);
    save(set);
}

DeviceSet DeviceSetStore::loadOrSeed() const {
    const std::filesystem::path file = devicesFile();
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        if (std::filesystem::exists(file)) {
            throw std::runtime_error("cannot read the simulated device set " + file.string());
        }
        DeviceSet seeded = DeviceSet::seeded();
        save(seeded);
        return seeded;
    }
    try {
        return deviceSetFromJson(nlohmann::json::parse(input));
    } catch (const std::exception& error) {
        throw std::runtime_error("the simulated device set " + file.string() +
                                 " is damaged: " + error.what());
    }
}

void DeviceSetStore::save(const DeviceSet& set) const {
    const std::filesystem::path file = devicesFile();
    std::string temporary = file.string() + ".XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        throw lastSystemError("cannot create a file beside " + file.string());
    }
    bool closed = false;
    try {
        writeAll(descriptor, toJson(set).dump(2) + "\n", temporary);
        // Make the bytes durable before the rename publishes them.
        if (::fsync(descriptor) != 0) {
            throw lastSystemError("cannot flush " + temporary);
        }
        closed = true;  // close releases the descriptor even when it reports an error
        if (::close(descriptor) != 0) {
            throw lastSystemError("cannot close " + temporary);
        }
        if (::rename(temporary.c_str(), file.c_str()) != 0) {
            throw lastSystemError("cannot replace " + file.string());
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
