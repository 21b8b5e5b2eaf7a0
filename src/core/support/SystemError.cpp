#include "core/support/SystemError.h"

namespace quaylet {

std::system_error systemError(const std::string& what, int error) {
    return std::system_error(error, std::generic_category(), what);
}

std::filesystem::filesystem_error systemError(const std::string& what,
                                              const std::filesystem::path& path, int error) {
    return std::filesystem::filesystem_error(what, path,
                                             std::error_code(error, std::generic_category()));
}

}  // namespace quaylet
