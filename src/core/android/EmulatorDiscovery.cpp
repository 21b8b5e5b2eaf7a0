#include "core/android/EmulatorDiscovery.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>

#include "core/android/ApiLevel.h"
#include "core/support/Text.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

// AVD definitions are a few hundred bytes; a larger file is not read.
constexpr std::uintmax_t kMaxDefinitionSize = 64 * 1024;

constexpr const char* kSdkMissing =
    "Android SDK isn’t installed. Install Android Studio, then create an emulator.";
constexpr const char* kListingFailed =
    "Android emulators couldn’t be listed. Check the SDK’s adb and emulator tools, then try "
    "again.";
constexpr const char* kNoEmulators =
    "No Android emulators are set up. Create one in Android Studio’s Device Manager.";

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> found;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        found.push_back(trimmed(text.substr(0, end)));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return found;
}

// The emulator's own rule for AVD names. A name becomes part of a file path, so nothing else
// is taken from the tool's output.
bool isAvdName(std::string_view name) {
    return !name.empty() && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
           });
}

// The key=value lines of an AVD's ini file; the first of a repeated key counts. Empty when
// the file is missing, unreadable or too large.
std::map<std::string, std::string> readIni(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    std::map<std::string, std::string> values;
    if (error || size > kMaxDefinitionSize) {
        return values;
    }
    std::ifstream input(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(input), {}};
    for (const std::string_view line : lines(text)) {
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            values.try_emplace(std::string(trimmed(line.substr(0, equals))),
                               std::string(trimmed(line.substr(equals + 1))));
        }
    }
    return values;
}

std::optional<std::string> valueOf(const std::map<std::string, std::string>& values,
                                   const std::string& key) {
    const auto found = values.find(key);
    return found != values.end() && !found->second.empty() ? std::optional(found->second)
                                                           : std::nullopt;
}

AndroidEmulator readDefinition(const fs::path& avdFolder, const std::string& name) {
    const auto definition = readIni(avdFolder / (name + ".ini"));
    AndroidEmulator emulator{.name = name, .apiLevel = {}, .abi = {}, .serial = {}};
    const std::optional<std::string> target = valueOf(definition, "target");
    if (target && target->starts_with("android-")) {
        emulator.apiLevel = parseApiLevel(std::string_view(*target).substr(8));
    }
    // The folder the emulator writes, where the definition names it; else where it puts one.
    const std::optional<std::string> path = valueOf(definition, "path");
    const fs::path folder =
        path && fs::path(*path).is_absolute() ? fs::path(*path) : avdFolder / (name + ".avd");
    emulator.abi = valueOf(readIni(folder / "config.ini"), "abi.type");
    return emulator;
}

bool isEmulatorSerial(std::string_view serial) {
    constexpr std::string_view kPrefix = "emulator-";
    return serial.size() > kPrefix.size() && serial.starts_with(kPrefix) &&
           std::all_of(serial.begin() + kPrefix.size(), serial.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The version a tool reports: the word after "version" on the first line that has one
// ("Android Debug Bridge version 1.0.41", "INFO | Android emulator version 35.1.4.0 (…)"),
// else its first line. Absent when the tool fails.
std::optional<std::string> toolVersion(const ProcessRunner& runner, const ToolCommand& command,
                                       std::stop_token stop) {
    std::string answer;
    try {
        answer = runner.runChecked(command, stop).standardOutput;
    } catch (const std::exception&) {
        // Only whether the tool answers matters here; the notice is for the emulators.
        return std::nullopt;
    }
    // Views into the answer, which outlives them.
    const std::vector<std::string_view> output = lines(answer);
    constexpr std::string_view kVersion = "version ";
    for (const std::string_view line : output) {
        if (const std::size_t at = line.find(kVersion); at != std::string_view::npos) {
            const std::string_view rest = line.substr(at + kVersion.size());
            return std::string(rest.substr(0, rest.find(' ')));
        }
    }
    return output.empty() ? std::string() : std::string(output.front());
}

}  // namespace

EmulatorDiscovery::EmulatorDiscovery(ProcessRunner runner, AndroidSdk sdk)
    : runner_(std::move(runner)), sdk_(std::move(sdk)) {}

std::vector<AndroidEmulator> EmulatorDiscovery::emulators(std::stop_token stop) const {
    std::vector<AndroidEmulator> emulators;
    const ProcessResult listing = runner_.runChecked(sdk_.listAvds(), stop);
    for (const std::string_view name : lines(listing.standardOutput)) {
        if (isAvdName(name)) {
            emulators.push_back(readDefinition(sdk_.avdFolder(), std::string(name)));
        }
    }

    const ProcessResult devices = runner_.runChecked(sdk_.listDevices(), stop);
    for (const std::string_view line : lines(devices.standardOutput)) {
        const std::size_t gap = line.find_first_of(" \t");
        const std::string_view serial = line.substr(0, gap);
        if (gap == std::string_view::npos || !isEmulatorSerial(serial) ||
            trimmed(line.substr(gap)) != "device") {
            continue;
        }
        // An emulator whose console does not answer (one that is starting or stopping) is
        // left unmatched: it shows as not running rather than failing the whole discovery.
        const ProcessResult answer = runner_.run(sdk_.avdName(std::string(serial)), stop);
        if (answer.status != 0) {
            continue;
        }
        const std::vector<std::string_view> answerLines = lines(answer.standardOutput);
        const auto emulator =
            std::find_if(emulators.begin(), emulators.end(), [&](const AndroidEmulator& known) {
                return !answerLines.empty() && known.name == answerLines.front();
            });
        if (emulator != emulators.end() && !emulator->serial) {
            emulator->serial = std::string(serial);
        }
    }
    return emulators;
}

AndroidEnvironment EmulatorDiscovery::environment(std::stop_token stop) const {
    AndroidEnvironment environment{.sdkFolder = sdk_.folder().string()};
    std::error_code error;
    environment.isInstalled = fs::is_directory(sdk_.folder(), error);
    if (!environment.isInstalled) {
        environment.notice = kSdkMissing;
        return environment;
    }
    environment.adbVersion = toolVersion(runner_, sdk_.adbVersion(), stop);
    environment.emulatorVersion = toolVersion(runner_, sdk_.emulatorVersion(), stop);
    try {
        environment.emulators = emulators(stop);
        if (environment.emulators.empty()) {
            environment.notice = kNoEmulators;
        }
    } catch (const std::exception&) {
        // Whatever went wrong, the list is incomplete, and the tools are what to look at;
        // cancellation lands here too, for a diagnosis that nobody waits for any more.
        environment.notice = kListingFailed;
    }
    return environment;
}

}  // namespace quaylet
