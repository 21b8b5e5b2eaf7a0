#pragma once

#include <filesystem>

namespace quaylet {

// Per-user folders of Quaylet, after the XDG base directory rules: the variable when it
// holds an absolute path, else the usual folder under the home directory. Each ends in
// "quaylet". Nothing is created here.
std::filesystem::path userConfigFolder();  // $XDG_CONFIG_HOME/quaylet or ~/.config/quaylet
std::filesystem::path userStateFolder();   // $XDG_STATE_HOME/quaylet or ~/.local/state/quaylet

}  // namespace quaylet
