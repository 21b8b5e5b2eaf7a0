#include "core/artifacts/AppInspector.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "core/artifacts/BuildRefusal.h"
#include "core/artifacts/InfoPlist.h"
#include "core/errors/QuayletError.h"
#include "core/support/BundleIdentifier.h"

namespace quaylet {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMissingExecutableNameMessage =
    "This build is missing its executable name. Check the target settings, then rebuild it.";
constexpr const char* kIncompleteMessage =
    "This build is incomplete and can’t run. Rebuild it in GitHub Actions, then try again.";
constexpr const char* kWrongPlatformMessage =
    "This build doesn’t target iOS Simulator. Update the GitHub workflow, then rebuild it.";

// "." components removed and ".." resolved by spelling alone; a trailing separator dropped so
// that the last component is the bundle's name.
fs::path standardise(const fs::path& url) {
    fs::path standard = url.lexically_normal();
    if (!standard.has_filename() && standard.has_relative_path()) {
        standard = standard.parent_path();
    }
    return standard;
}

// The executable must be a plain file name: a name with a separator or a "." or ".." would
// point inspection (and lipo) at a file outside the bundle.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool isExecutableFile(const fs::path& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(file.c_str(), X_OK) == 0;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char character : text) {
        if (character == ' ' || (character >= '\t' && character <= '\r')) {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word += character;
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}

}  // namespace

AppInspector::AppInspector(ProcessRunner runner, DeveloperTools tools)
    : runner_(std::move(runner)), tools_(std::move(tools)) {}

AppMetadata AppInspector::inspect(const fs::path& appPath, std::stop_token stop) const {
    const fs::path bundle = standardise(appPath);
    if (bundle.extension() != ".app") {
        throw QuayletError::invalidApplication(kNotAnAppMessage);
    }
    std::error_code error;
    if (!fs::is_directory(bundle, error)) {
        throw QuayletError::invalidApplication(kMissingInformationMessage);
    }
    const std::optional<InfoPlist> plist = InfoPlist::load(bundle / "Info.plist");
    if (!plist) {
        throw QuayletError::invalidApplication(kMissingInformationMessage);
    }
    // The identifier reaches the simulator tool's argument list, where an option-shaped one
    // would be read as an option: it is refused here, before any simulator tool runs.
    if (!plist->bundleIdentifier || !isValidBundleIdentifier(*plist->bundleIdentifier)) {
        throw QuayletError::invalidApplication(kMissingIdentifierMessage);
    }
    if (!plist->executableName || !isPlainFileName(*plist->executableName)) {
        throw QuayletError::invalidApplication(kMissingExecutableNameMessage);
    }
    const fs::path executable = bundle / *plist->executableName;
    if (!isExecutableFile(executable)) {
        throw QuayletError::invalidApplication(kIncompleteMessage);
    }
    const auto& platforms = plist->supportedPlatforms;
    if (std::find(platforms.begin(), platforms.end(), "iPhoneSimulator") == platforms.end()) {
        throw QuayletError::unsupportedApplication(kWrongPlatformMessage);
    }
    const std::optional<SemanticVersion> minimumOSVersion =
        plist->minimumOSVersion ? SemanticVersion::parse(*plist->minimumOSVersion) : std::nullopt;
    if (!minimumOSVersion) {
        throw QuayletError::invalidApplication(kNoMinimumVersionMessage);
    }
    const ProcessResult lipo = runner_.runChecked(tools_.architectures(executable), stop);
    std::vector<std::string> architectures = splitWords(lipo.standardOutput);
    if (architectures.empty()) {
        throw QuayletError::unsupportedApplication(kNoRunnableCodeMessage);
    }
    std::string displayName =
        plist->displayName.value_or(plist->bundleName.value_or(bundle.stem().string()));
    return AppMetadata{bundle,
                       *plist->bundleIdentifier,
                       std::move(displayName),
                       *plist->executableName,
                       *minimumOSVersion,
                       std::move(architectures),
                       plist->fixtureVersion};
}

}  // namespace quaylet
