#include "core/support/UserDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace quaylet {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16 * 1024);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        throw std::runtime_error(
            "Quaylet couldn’t find your home folder. Set HOME, then try again.");
    }
    return found->pw_dir;
}

std::filesystem::path userCacheDirectory() {
#ifdef __APPLE__
    return homeDirectory() / "Library" / "Caches";
#else
    // A relative value is invalid by the base-directory rules and must be ignored.
    if (const char* cache = std::getenv("XDG_CACHE_HOME");
        cache != nullptr && std::filesystem::path(cache).is_absolute()) {
        return cache;
    }
    return homeDirectory() / ".cache";
#endif
}

std::filesystem::path userStateDirectory() {
    if (const char* state = std::getenv("XDG_STATE_HOME");
        state != nullptr && std::filesystem::path(state).is_absolute()) {
        return state;
    }
    return homeDirectory() / ".local" / "state";
}

}  // namespace quaylet
