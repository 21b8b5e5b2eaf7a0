#include "hosttools/Tools.h"

namespace quaylet::hosttools {

std::filesystem::path hostToolsDirectory() {
    // The links all point at this program, which lives in the tool folder itself.
    return std::filesystem::canonical("/proc/self/exe").parent_path();
}

}  // namespace quaylet::hosttools
