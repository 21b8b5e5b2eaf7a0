#pragma once

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace quaylet {

// The failure of a system call as the standard library reports its own: the error number
// (errno unless given) with what failed, and the path it failed on when there is one. The
// caller throws it, so that it may first undo what it holds.
std::system_error systemError(const std::string& what, int error = errno);
std::filesystem::filesystem_error systemError(const std::string& what,
                                              const std::filesystem::path& path, int error = errno);

}  // namespace quaylet
