#include "core/process/DeveloperTools.h"

#include <cstdlib>
#include <string_view>
#include <utility>

extern char** environ;

namespace quaylet {
namespace {

std::filesystem::path defaultDirectory() {
#ifdef __APPLE__
    return "/usr/bin";
#else
    // The stand-ins sit at the same place relative to the program in the build tree and the
    // install tree.
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    return (program.parent_path() / QUAYLET_HOST_TOOLS_RELATIVE_DIR).lexically_normal();
#endif
}

}  // namespace

DeveloperTools::DeveloperTools(std::filesystem::path directory)
    : directory_(std::move(directory)) {}

DeveloperTools DeveloperTools::forThisHost() {
    if (const char* override = std::getenv("QUAYLET_HOST_TOOLS_DIR")) {
        const std::filesystem::path directory(override);
        if (directory.is_absolute()) {
            return DeveloperTools(directory);
        }
    }
    return DeveloperTools(defaultDirectory());
}

std::string DeveloperTools::tool(const char* name) const {
    return (directory_ / name).string();
}

ToolCommand DeveloperTools::selectedDeveloperDirectory() const {
    return {tool("xcode-select"), {"-p"}};
}
ToolCommand DeveloperTools::locateSimctl() const {
    return {tool("xcrun"), {"--find", "simctl"}};
}
ToolCommand DeveloperTools::machineArchitecture() const {
    return {tool("uname"), {"-m"}};
}
ToolCommand DeveloperTools::listSimulators() const {
    return {tool("xcrun"), {"simctl", "list", "--json"}};
}
ToolCommand DeveloperTools::boot(const std::string& udid) const {
    return {tool("xcrun"), {"simctl", "boot", udid}};
}
ToolCommand DeveloperTools::waitUntilBooted(const std::string& udid) const {
    return {tool("xcrun"), {"simctl", "bootstatus", udid, "-b"}};
}
ToolCommand DeveloperTools::shutdown(const std::string& udid) const {
    return {tool("xcrun"), {"simctl", "shutdown", udid}};
}
ToolCommand DeveloperTools::install(const std::string& udid,
                                    const std::filesystem::path& app) const {
    return {tool("xcrun"), {"simctl", "install", udid, app.string()}};
}
ToolCommand DeveloperTools::launch(const std::string& udid, const std::string& bundleIdentifier,
                                   const std::vector<std::string>& arguments) const {
    ToolCommand command{tool("xcrun"), {"simctl", "launch", udid, bundleIdentifier}};
    command.arguments.insert(command.arguments.end(), arguments.begin(), arguments.end());
    return command;
}
std::optional<Environment> DeveloperTools::launchEnvironment(
    const std::vector<std::pair<std::string, std::string>>& appEnvironment) {
    if (appEnvironment.empty()) {
        return std::nullopt;
    }
    Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos) {
            environment.emplace(text.substr(0, equals), text.substr(equals + 1));
        }
    }
    for (const auto& [name, value] : appEnvironment) {
        environment["SIMCTL_CHILD_" + name] = value;
    }
    return environment;
}
ToolCommand DeveloperTools::openURL(const std::string& udid, const std::string& url) const {
    return {tool("xcrun"), {"simctl", "openurl", udid, url}};
}
ToolCommand DeveloperTools::installedLocation(const std::string& udid,
                                              const std::string& bundleIdentifier) const {
    return {tool("xcrun"), {"simctl", "get_app_container", udid, bundleIdentifier, "app"}};
}
ToolCommand DeveloperTools::screenshot(const std::string& udid,
                                       const std::filesystem::path& image) const {
    return {tool("xcrun"), {"simctl", "io", udid, "screenshot", image.string()}};
}
ToolCommand DeveloperTools::openDeviceHub(const std::string& udid) const {
    // The identifier comes from the tool's listing; encoded, it can only ever be the id.
    std::string url = "devices://device/open?id=";
    for (const char c : udid) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            url += c;
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            url += '%';
            url += kHex[static_cast<unsigned char>(c) >> 4];
            url += kHex[static_cast<unsigned char>(c) & 0x0F];
        }
    }
    return {tool("open"), {url}};
}
ToolCommand DeveloperTools::openSimulatorApp(const std::filesystem::path& app,
                                             const std::string& udid) const {
    return {tool("open"), {"-a", app.string(), "--args", "-CurrentDeviceUDID", udid}};
}
ToolCommand DeveloperTools::activateSimulator() const {
    return {tool("open"), {"-a", "Simulator"}};
}
ToolCommand DeveloperTools::architectures(const std::filesystem::path& executable) const {
    return {tool("lipo"), {"-archs", executable.string()}};
}
ToolCommand DeveloperTools::listArchive(const std::filesystem::path& archive) const {
    return {tool("zipinfo"), {"-1", archive.string()}};
}
ToolCommand DeveloperTools::extractArchive(const std::filesystem::path& archive,
                                           const std::filesystem::path& destination) const {
    return {tool("ditto"), {"-x", "-k", "--noqtn", archive.string(), destination.string()}};
}

}  // namespace quaylet
