#include "core/artifacts/ArchiveEntryName.h"

namespace quaylet {

bool staysBelowDestination(std::string_view name) {
    if (name.starts_with('/') || name.starts_with('~') ||
        name.find('\\') != std::string_view::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t slash = std::min(name.find('/', start), name.size());
        if (name.substr(start, slash - start) == "..") {
            return false;
        }
        start = slash + 1;
    }
    return true;
}

}  // namespace quaylet
