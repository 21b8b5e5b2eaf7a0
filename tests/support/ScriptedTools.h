#pragma once

#include <string>

#include "core/process/DeveloperTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// A host tool folder of small shell scripts, for tests that need a tool to fail, hang or
// print something the stand-ins never would.
class ScriptedTools {
  public:
    // Writes an executable script named tool whose body runs under /bin/sh with the tool's
    // arguments.
    void write(const std::string& tool, const std::string& body) const;

    DeveloperTools tools() const { return DeveloperTools(folder_.path()); }
    const std::filesystem::path& path() const { return folder_.path(); }

  private:
    TemporaryDirectory folder_;
};

}  // namespace quaylet::testing
