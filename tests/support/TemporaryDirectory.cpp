#include "support/TemporaryDirectory.h"

#include <stdlib.h>

#include <string>
#include <system_error>

#include "core/support/FileTree.h"

namespace quaylet::testing {

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quaylet-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    try {
        removeTree(path_);
    } catch (const std::filesystem::filesystem_error&) {
        // a test's leftovers must not turn into a second failure
    }
}

}  // namespace quaylet::testing
