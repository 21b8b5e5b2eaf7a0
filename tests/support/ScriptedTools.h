#pragma once

#include <filesystem>
#include <string>

#include "core/process/DeveloperTools.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// A folder of small shell scripts standing in for host tools: for injecting failures, and for
// the archive tools when the build has no stand-ins of its own.
class ScriptedTools {
  public:
    // Writes an executable script named name whose body follows a "#!/bin/sh" line.
    void add(const std::string& name, const std::string& body);
    // Links to this host's tools but one, tool, which first runs script, then the real one.
    void wrap(const std::string& tool, const std::string& script);

    const std::filesystem::path& directory() const { return folder_.path(); }
    DeveloperTools tools() const { return DeveloperTools(folder_.path()); }

  private:
    TemporaryDirectory folder_;
};

// The archive tools (zipinfo, ditto) of DeveloperTools::forThisHost() when that folder has
// them; otherwise scripts in fallback that do the same with Debian's zipinfo and bsdtar.
DeveloperTools archiveToolsForTests(ScriptedTools& fallback);

}  // namespace quaylet::testing
