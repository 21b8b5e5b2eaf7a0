#include "feature/UserFolders.h"

#include <cstdlib>

#include "core/support/UserDirectories.h"

namespace quaylet {
namespace {

std::filesystem::path baseFolder(const char* variable, const std::filesystem::path& fallback) {
    // The base directory rules ask to ignore relative values.
    if (const char* value = std::getenv(variable); value != nullptr) {
        std::filesystem::path folder(value);
        if (folder.is_absolute()) {
            return folder;
        }
    }
    return homeDirectory() / fallback;
}

}  // namespace

std::filesystem::path userConfigFolder() {
    return baseFolder("XDG_CONFIG_HOME", ".config") / "quaylet";
}

std::filesystem::path userStateFolder() {
    return userStateDirectory() / "quaylet";
}

}  // namespace quaylet
