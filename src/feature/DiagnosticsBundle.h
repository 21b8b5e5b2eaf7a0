#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/simulator/EnvironmentSnapshot.h"

namespace quaylet {

// What a diagnostics bundle holds, as gathered; nothing here is redacted yet.
struct DiagnosticsSources {
    EnvironmentSnapshot environment;
    std::vector<std::string> launches;  // the kept launch lines, oldest first
    std::string settings;               // the settings file's text; empty when there is none
    std::string version;                // Quaylet's
    std::optional<std::string> token;   // the stored token, only to take it out everywhere
};

// Writes the bundle as one zip archive, 0600, replaced atomically: environment.json,
// launches.jsonl, last-launch-commands.json (the host commands of the newest launch with
// their exit statuses), settings.json and version.json (Quaylet's and the system's). Every
// entry is redacted before it is written: the token wherever it appears, every URL's query,
// and the home folder as "~". Failures are thrown as the platform's errors.
void writeDiagnosticsBundle(const std::filesystem::path& file, const DiagnosticsSources& sources);

}  // namespace quaylet
