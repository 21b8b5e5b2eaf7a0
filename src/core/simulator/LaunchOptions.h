#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quaylet {

// What an app is launched with, beyond its bundle. Only the person starting the launch sets
// these; a link never does, so a web page cannot choose how an app starts.
struct LaunchOptions {
    std::vector<std::string> arguments = {};  // after the bundle identifier
    // Names and values; each reaches the app as the name, through SIMCTL_CHILD_<name>.
    std::vector<std::pair<std::string, std::string>> environment = {};
    // Absolute; opened in the simulator once the app runs.
    std::optional<std::string> openURL = std::nullopt;

    bool operator==(const LaunchOptions&) const = default;
};

// Where a launch runs and with what. No devices means one device chosen by the usual ranking.
struct LaunchTargets {
    std::vector<std::string> simulatorUDIDs = {};  // exactly these devices, in this order
    std::vector<std::string> emulatorNames = {};   // for an Android build, exactly these AVDs
    LaunchOptions options = {};
    // The person turned off, for this launch, booting the devices beside the download.
    bool noEarlyBoot = false;

    bool operator==(const LaunchTargets&) const = default;
};

// Letters, digits and "_", not starting with a digit: a name every shell and libc agrees on.
bool isEnvironmentName(std::string_view name);

// "KEY=VALUE" split at the first "=" when KEY is such a name; otherwise absent.
std::optional<std::pair<std::string, std::string>> parseEnvironmentAssignment(
    std::string_view text);

// True for an absolute URL with a scheme, such as https://example.com/a or myapp://screen,
// and without white space or control characters.
bool isAbsoluteURL(std::string_view text);

// Throws QuayletError::unsupportedApplication, in words for the user, when a variable name is
// not portable or the URL to open is not absolute; a launch checks this before it starts.
void checkLaunchOptions(const LaunchOptions& options);
// What an Android build started with launch arguments or environment variables is refused
// with: the activity manager passes neither to an app as a simulator does.
inline constexpr std::string_view kIOSOnlyLaunchOptionsMessage =
    "Launch arguments and environment variables apply to iOS builds only.";
// checkLaunchOptions for an Android build: refuses arguments and environment variables too.
void checkAndroidLaunchOptions(const LaunchOptions& options);
// As checkLaunchOptions, for a URL to open in a running app.
void checkURLToOpen(std::string_view url);

}  // namespace quaylet
