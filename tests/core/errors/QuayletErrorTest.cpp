#include "core/errors/QuayletError.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <stdexcept>

#include "core/errors/CancellationError.h"
#include "core/errors/DecodingError.h"
#include "core/errors/UserMessage.h"

namespace quaylet {
namespace {

struct MessageCase {
    const char* name;
    QuayletError error;
    const char* message;
};

TEST(QuayletErrorTest, EveryCaseHasItsSentence) {
    const MessageCase cases[] = {
        {"boot", QuayletError::commandFailed("/usr/bin/xcrun simctl boot ABC", 1, "x"),
         "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try "
         "again."},
        {"boot wait shares the boot sentence",
         QuayletError::commandFailed("/usr/bin/xcrun simctl bootstatus ABC -b", 1, ""),
         "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try "
         "again."},
        {"install", QuayletError::commandFailed("/usr/bin/xcrun simctl install ABC /a.app", 2, ""),
         "The app couldn’t be installed. Restart Simulator, then try again."},
        {"launch", QuayletError::commandFailed("/usr/bin/xcrun simctl launch ABC com.x", 2, ""),
         "The app was installed but didn’t open. Restart Simulator, then try again."},
        {"boot wins over launch", QuayletError::commandFailed("simctl launch simctl boot", 2, ""),
         "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try "
         "again."},
        {"listing", QuayletError::commandFailed("/usr/bin/xcrun simctl list --json", 1, ""),
         "A required Mac command failed. Open Diagnostics, then try again."},
        {"ditto", QuayletError::commandFailed("/usr/bin/ditto -x -k --noqtn a b", 1, ""),
         "A required Mac command failed. Open Diagnostics, then try again."},
        {"upper case does not match", QuayletError::commandFailed("XCRUN SIMCTL BOOT ABC", 1, ""),
         "A required Mac command failed. Open Diagnostics, then try again."},
        {"malformed", QuayletError::malformedOutput("Bad output."), "Bad output."},
        {"invalid app", QuayletError::invalidApplication("Choose a valid iOS Simulator build."),
         "Choose a valid iOS Simulator build."},
        {"unsupported app", QuayletError::unsupportedApplication("Nope."), "Nope."},
        {"no simulator", QuayletError::noCompatibleSimulator("17.2.0", {"16.4.0"}),
         "No compatible Simulator is installed. This build needs iOS 17.2.0 or later. Install a "
         "matching runtime in Xcode."},
        {"no simulator, empty version", QuayletError::noCompatibleSimulator("", {}),
         "No compatible Simulator is installed. This build needs iOS  or later. Install a "
         "matching runtime in Xcode."},
        {"fixture", QuayletError::fixtureVersionMismatch("2", std::nullopt),
         "The installed app doesn’t match this build. Open Settings, clear the cache, then try "
         "again."},
        {"checksum", QuayletError::checksumMismatch("aa", "bb"),
         "The download failed its security check. Open Settings, clear the cache, then try "
         "again."},
        {"unsafe", QuayletError::unsafeArchive("The downloaded build is too large to open safely."),
         "The downloaded build is too large to open safely."},
        {"schema", QuayletError::unsupportedSchema(2),
         "This build needs a newer version of Quaylet. Check for updates, then try again."},
        {"deep link", QuayletError::invalidDeepLink(),
         "This Quaylet link is incomplete. Open the latest link from the pull request."},
        {"auth", QuayletError::authenticationRequired(),
         "Sign in with GitHub to open this private build."},
        {"service", QuayletError::serviceError(500, "GitHub sign-in could not be completed."),
         "GitHub sign-in could not be completed."},
        {"unavailable", QuayletError::previewUnavailable("This build has expired."),
         "This build has expired."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.error.errorDescription(), c.message);
        EXPECT_STREQ(c.error.what(), c.message);
    }
}

TEST(QuayletErrorTest, EqualityComparesCaseAndEveryValue) {
    EXPECT_NE(QuayletError::serviceError(401, "m"), QuayletError::serviceError(500, "m"));
    EXPECT_EQ(QuayletError::serviceError(500, "m"), QuayletError::serviceError(500, "m"));
    EXPECT_NE(QuayletError::fixtureVersionMismatch("1", std::nullopt),
              QuayletError::fixtureVersionMismatch("1", "1"));
    EXPECT_EQ(QuayletError::fixtureVersionMismatch("1", std::nullopt).errorDescription(),
              QuayletError::fixtureVersionMismatch("1", "1").errorDescription());
    EXPECT_NE(QuayletError::unsupportedSchema(2), QuayletError::unsupportedSchema(3));
    EXPECT_EQ(QuayletError::unsupportedSchema(2).errorDescription(),
              QuayletError::unsupportedSchema(3).errorDescription());
    EXPECT_NE(QuayletError::noCompatibleSimulator("17.0.0", {"16.0.0", "15.0.0"}),
              QuayletError::noCompatibleSimulator("17.0.0", {"15.0.0", "16.0.0"}));
    // Cases with the same payload shape are still different cases.
    EXPECT_NE(QuayletError::malformedOutput("m"), QuayletError::invalidApplication("m"));
}

TEST(UserMessageTest, ShowsEachKindOfFailureAndHidesCancellation) {
    EXPECT_EQ(userMessage(std::make_exception_ptr(QuayletError::authenticationRequired())),
              "Sign in with GitHub to open this private build.");
    EXPECT_EQ(userMessage(std::make_exception_ptr(std::runtime_error("disk full"))), "disk full");
    using Kind = DecodingError::Kind;
    std::exception_ptr libraryError;  // the JSON library's own error, unwrapped
    try {
        [[maybe_unused]] const auto document = nlohmann::json::parse("{");
    } catch (...) {
        libraryError = std::current_exception();
    }
    const std::string kCorrupted =
        "The data couldn’t be read because it isn’t in the correct format.";
    const std::pair<std::exception_ptr, std::string> decodingFailures[] = {
        {std::make_exception_ptr(
             DecodingError(Kind::dataCorrupted, "previews[2].createdAt", "Invalid ISO-8601 date")),
         kCorrupted + " (previews[2].createdAt)"},
        {std::make_exception_ptr(DecodingError(
             Kind::dataCorrupted, "", "[json.exception.parse_error.101] parse error at line 1")),
         kCorrupted},
        {std::make_exception_ptr(DecodingError(Kind::keyNotFound, "sha256", "No value for key")),
         "The data couldn’t be read because it is missing. (sha256)"},
        {libraryError, kCorrupted},
    };
    for (const auto& [failure, message] : decodingFailures) {
        EXPECT_EQ(userMessage(failure), message);
    }
    EXPECT_EQ(userMessage(std::make_exception_ptr(CancellationError())), std::nullopt);
    EXPECT_EQ(userMessage(nullptr), std::nullopt);
}

}  // namespace
}  // namespace quaylet
