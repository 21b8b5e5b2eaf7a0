#include "support/ScriptedTools.h"

#include <fstream>

namespace quaylet::testing {

void ScriptedTools::write(const std::string& tool, const std::string& body) const {
    const std::filesystem::path script = folder_.path() / tool;
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
}

}  // namespace quaylet::testing
