#include "core/errors/QuayletError.h"

#include <utility>

namespace quaylet {
namespace {

template <typename... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};
// Clang 14 does not deduce an aggregate's template arguments by itself.
template <typename... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

std::string commandFailedMessage(const std::string& command) {
    // A literal, case-sensitive test in this order: the boot wait ("simctl bootstatus")
    // deliberately shares the boot message.
    if (command.find("simctl boot") != std::string::npos) {
        return "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then "
               "try again.";
    }
    if (command.find("simctl install") != std::string::npos) {
        return "The app couldn’t be installed. Restart Simulator, then try again.";
    }
    // The emulator launcher reports a failed install by this name, whatever adb's path.
    if (command == "adb install") {
        return "The app couldn’t be installed. Restart the emulator, then try again.";
    }
    // A boot that exited, or found no console port, before the device came up.
    if (command.starts_with("emulator -")) {
        return "The Android emulator couldn’t start. Start it once from Android Studio’s Device "
               "Manager, then try again.";
    }
    if (command.find("simctl launch") != std::string::npos) {
        return "The app was installed but didn’t open. Restart Simulator, then try again.";
    }
    return "A required Mac command failed. Open Diagnostics, then try again.";
}

std::string describe(const QuayletError::Case& errorCase) {
    using E = QuayletError;
    return std::visit(
        Overloaded{
            [](const E::CommandFailed& e) { return commandFailedMessage(e.command); },
            [](const E::InvalidApplication& e) { return e.message; },
            [](const E::UnsupportedApplication& e) { return e.message; },
            [](const E::NoCompatibleSimulator& e) {
                return "No compatible Simulator is installed. This build needs iOS " + e.required +
                       " or later. Install a matching runtime in Xcode.";
            },
            [](const E::FixtureVersionMismatch&) {
                return std::string(
                    "The installed app doesn’t match this build. Open Settings, clear the cache, "
                    "then try again.");
            },
            [](const E::ChecksumMismatch&) {
                return std::string(
                    "The download failed its security check. Open Settings, clear the cache, then "
                    "try again.");
            },
            [](const E::UnsafeArchive& e) { return e.message; },
            [](const E::UnsupportedSchema&) {
                return std::string(
                    "This build needs a newer version of Quaylet. Check for updates, then try "
                    "again.");
            },
            [](const E::InvalidDeepLink&) {
                return std::string(
                    "This Quaylet link is incomplete. Open the latest link from the pull request.");
            },
            [](const E::AuthenticationRequired&) {
                return std::string("Sign in with GitHub to open this private build.");
            },
            [](const E::ServiceError& e) { return e.message; },
            [](const E::PreviewUnavailable& e) { return e.message; },
        },
        errorCase);
}

}  // namespace

QuayletError::QuayletError(Case errorCase)
    : errorCase_(std::move(errorCase)), description_(describe(errorCase_)) {}

QuayletError QuayletError::commandFailed(std::string command, std::int32_t status,
                                         std::string details) {
    return QuayletError(CommandFailed{std::move(command), status, std::move(details)});
}
QuayletError QuayletError::invalidApplication(std::string message) {
    return QuayletError(InvalidApplication{std::move(message)});
}
QuayletError QuayletError::unsupportedApplication(std::string message) {
    return QuayletError(UnsupportedApplication{std::move(message)});
}
QuayletError QuayletError::noCompatibleSimulator(std::string required,
                                                 std::vector<std::string> installed) {
    return QuayletError(NoCompatibleSimulator{std::move(required), std::move(installed)});
}
QuayletError QuayletError::fixtureVersionMismatch(std::string expected,
                                                  std::optional<std::string> actual) {
    return QuayletError(FixtureVersionMismatch{std::move(expected), std::move(actual)});
}
QuayletError QuayletError::checksumMismatch(std::string expected, std::string actual) {
    return QuayletError(ChecksumMismatch{std::move(expected), std::move(actual)});
}
QuayletError QuayletError::unsafeArchive(std::string message) {
    return QuayletError(UnsafeArchive{std::move(message)});
}
QuayletError QuayletError::unsupportedSchema(std::int64_t version) {
    return QuayletError(UnsupportedSchema{version});
}
QuayletError QuayletError::invalidDeepLink() {
    return QuayletError(InvalidDeepLink{});
}
QuayletError QuayletError::authenticationRequired() {
    return QuayletError(AuthenticationRequired{});
}
QuayletError QuayletError::serviceError(std::int64_t status, std::string message) {
    return QuayletError(ServiceError{status, std::move(message)});
}
QuayletError QuayletError::previewUnavailable(std::string message) {
    return QuayletError(PreviewUnavailable{std::move(message)});
}

}  // namespace quaylet
