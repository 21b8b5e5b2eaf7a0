#include "core/simulator/LaunchOptions.h"

#include <algorithm>

#include "core/errors/QuayletError.h"
#include "core/service/AbsoluteURL.h"

namespace quaylet {
namespace {

bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameCharacter(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}

}  // namespace

bool isEnvironmentName(std::string_view name) {
    return !name.empty() && isNameStart(name.front()) && std::ranges::all_of(name, isNameCharacter);
}

std::optional<std::pair<std::string, std::string>> parseEnvironmentAssignment(
    std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view name = text.substr(0, equals);
    if (!isEnvironmentName(name)) {
        return std::nullopt;
    }
    const std::string_view value = text.substr(equals + 1);
    if (value.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    return std::pair(std::string(name), std::string(value));
}

bool isAbsoluteURL(std::string_view text) {
    // libcurl accepts some bytes a command line or a URL handler should never see.
    if (text.empty() || std::ranges::any_of(text, [](char c) {
            return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
        })) {
        return false;
    }
    // Without a default or guessed scheme, only a URL that names its own scheme parses.
    return parseURL(std::string(text), CURLU_NON_SUPPORT_SCHEME) != nullptr;
}

void checkURLToOpen(std::string_view url) {
    if (!isAbsoluteURL(url)) {
        throw QuayletError::unsupportedApplication(
            "This link can’t be opened in the app. Enter a full link, such as myapp://home, then "
            "try again.");
    }
}

void checkLaunchOptions(const LaunchOptions& options) {
    for (const auto& [name, value] : options.environment) {
        if (!isEnvironmentName(name) || value.find('\0') != std::string::npos) {
            throw QuayletError::unsupportedApplication(
                "An environment variable for the app has an unusable name. Use letters, digits "
                "and underscores, then try again.");
        }
    }
    if (options.openURL) {
        checkURLToOpen(*options.openURL);
    }
}

void checkAndroidLaunchOptions(const LaunchOptions& options) {
    if (!options.arguments.empty() || !options.environment.empty()) {
        throw QuayletError::unsupportedApplication(std::string(kIOSOnlyLaunchOptionsMessage));
    }
    checkLaunchOptions(options);
}

}  // namespace quaylet
