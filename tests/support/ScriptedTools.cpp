#include "support/ScriptedTools.h"

#include <unistd.h>

#include <fstream>

namespace quaylet::testing {

void ScriptedTools::add(const std::string& name, const std::string& body) {
    const std::filesystem::path script = folder_.path() / name;
    std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(script, std::filesystem::perms(0750));
}

void ScriptedTools::wrap(const std::string& tool, const std::string& script) {
    const std::filesystem::path real = DeveloperTools::forThisHost().directory();
    for (const auto& entry : std::filesystem::directory_iterator(real)) {
        if (entry.path().filename() != tool) {
            std::filesystem::create_symlink(entry.path(), folder_.path() / entry.path().filename());
        }
    }
    if (!tool.empty()) {
        add(tool, script + "\nexec '" + (real / tool).string() + "' \"$@\"");
    }
}

DeveloperTools archiveToolsForTests(ScriptedTools& fallback) {
    const DeveloperTools host = DeveloperTools::forThisHost();
    const auto executable = [&](const char* name) {
        return ::access((host.directory() / name).c_str(), X_OK) == 0;
    };
    if (executable("zipinfo") && executable("ditto")) {
        return host;
    }
    fallback.add("zipinfo", "exec /usr/bin/zipinfo \"$@\"");
    // ditto -x -k --noqtn ARCHIVE DESTINATION
    fallback.add("ditto", "exec /usr/bin/bsdtar -x -f \"$4\" -C \"$5\"");
    return fallback.tools();
}

}  // namespace quaylet::testing
