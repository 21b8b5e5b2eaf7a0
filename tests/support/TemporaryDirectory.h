#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "core/support/FileTree.h"

namespace quaylet::testing {

// A fresh folder under the system's temporary directory, removed with everything in it
// when the object goes.
class TemporaryDirectory {
  public:
    TemporaryDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quaylet-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        }
        path_ = pattern;
    }
    ~TemporaryDirectory() {
        try {
            removeTree(path_);
        } catch (const std::filesystem::filesystem_error&) {
            // a test's leftovers must not turn into a second failure
        }
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace quaylet::testing
