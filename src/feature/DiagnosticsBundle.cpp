#include "feature/DiagnosticsBundle.h"

#include <sys/utsname.h>

#include <QJsonDocument>

#include <nlohmann/json.hpp>

#include "core/support/Redaction.h"
#include "core/support/UserDirectories.h"
#include "core/support/ZipWriter.h"
#include "feature/RecordVariants.h"

namespace quaylet {
namespace {

std::string systemVersion() {
    struct utsname system {};
    if (::uname(&system) != 0) {
        return "unknown";
    }
    return std::string(system.sysname) + " " + system.release + " " + system.version + " " +
           system.machine;
}

// The newest launch's commands, or an empty list when none is kept or it cannot be read.
std::string lastLaunchCommands(const std::vector<std::string>& launches) {
    nlohmann::ordered_json commands = nlohmann::ordered_json::array();
    if (!launches.empty()) {
        const auto launch = nlohmann::ordered_json::parse(launches.back(), nullptr, false);
        if (launch.is_object() && launch.contains("commands")) {
            commands = launch["commands"];
        }
    }
    return commands.dump(2);
}

}  // namespace

void writeDiagnosticsBundle(const std::filesystem::path& file, const DiagnosticsSources& sources) {
    std::string launches;
    for (const std::string& launch : sources.launches) {
        launches += launch + '\n';
    }
    const nlohmann::ordered_json version{{"quaylet", sources.version}, {"system", systemVersion()}};
    const std::vector<ZipEntry> entries{
        {"environment.json",
         QJsonDocument::fromVariant(toVariantMap(sources.environment)).toJson().toStdString()},
        {"launches.jsonl", launches},
        {"last-launch-commands.json", lastLaunchCommands(sources.launches)},
        {"settings.json", sources.settings.empty() ? "{}" : sources.settings},
        {"version.json", version.dump(2)},
    };
    const Redaction redaction(
        sources.token ? std::vector<std::string>{*sources.token} : std::vector<std::string>{},
        homeDirectory().string());
    std::vector<ZipEntry> redacted;
    for (const ZipEntry& entry : entries) {
        redacted.push_back({entry.name, redaction.apply(entry.contents)});
    }
    writeZipAtomically(file, redacted);
}

}  // namespace quaylet
