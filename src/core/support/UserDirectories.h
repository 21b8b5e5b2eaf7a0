#pragma once

#include <filesystem>

namespace quaylet {

// The per-user folder for caches: ~/Library/Caches on macOS; $XDG_CACHE_HOME when it is an
// absolute path, else ~/.cache, elsewhere.
std::filesystem::path userCacheDirectory();

// The per-user folder for state worth keeping but not backing up, on every platform:
// $XDG_STATE_HOME when it is an absolute path, else ~/.local/state.
std::filesystem::path userStateDirectory();
// The user's home folder: $HOME, or the password database's entry when HOME is unset.
std::filesystem::path homeDirectory();

}  // namespace quaylet
