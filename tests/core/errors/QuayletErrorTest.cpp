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

constexpr const char* kBoot =
    "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try again.";
constexpr const char* kMacCommand =
    "A required Mac command failed. Open Diagnostics, then try again.";

// A failed command's sentence follows the simulator step its command line names.
TEST(QuayletErrorTest, EveryCaseHasItsSentence) {
    const struct {
        QuayletError error;
        const char* message;
    } cases[] = {
        {QuayletError::commandFailed("/usr/bin/xcrun simctl boot ABC", 1, "x"), kBoot},
        {QuayletError::commandFailed("/usr/bin/xcrun simctl install ABC /a.app", 2, ""),
         "The app couldn’t be installed. Restart Simulator, then try again."},
        {QuayletError::commandFailed("/usr/bin/xcrun simctl launch ABC com.x", 2, ""),
         "The app was installed but didn’t open. Restart Simulator, then try again."},
        {QuayletError::commandFailed("simctl launch simctl boot", 2, ""), kBoot},
        {QuayletError::commandFailed("/usr/bin/xcrun simctl bootstatus ABC -b", 1, ""), kBoot},
        {QuayletError::commandFailed("XCRUN SIMCTL BOOT ABC", 1, ""), kMacCommand},
        {QuayletError::noCompatibleSimulator("17.2.0", {"16.4.0"}),
         "No compatible Simulator is installed. This build needs iOS 17.2.0 or later. Install a "
         "matching runtime in Xcode."},
        {QuayletError::malformedOutput("Bad output."), "Bad output."},
        {QuayletError::unsupportedSchema(2),
         "This build needs a newer version of Quaylet. Check for updates, then try again."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.errorDescription(), c.message);
        EXPECT_STREQ(c.error.what(), c.message);
    }
}

TEST(UserMessageTest, ShowsEachKindOfFailureAndHidesCancellation) {
    using Kind = DecodingError::Kind;
    std::exception_ptr libraryError;  // the JSON library's own error, unwrapped
    try {
        [[maybe_unused]] const auto document = nlohmann::json::parse("{");
    } catch (...) {
        libraryError = std::current_exception();
    }
    const std::string kCorrupted =
        "The data couldn’t be read because it isn’t in the correct format.";
    const std::pair<std::exception_ptr, std::optional<std::string>> cases[] = {
        {std::make_exception_ptr(std::runtime_error("disk full")), "disk full"},
        {std::make_exception_ptr(
             DecodingError(Kind::dataCorrupted, "previews[2].createdAt", "Invalid ISO-8601 date")),
         kCorrupted + " (previews[2].createdAt)"},
        {std::make_exception_ptr(DecodingError(Kind::keyNotFound, "sha256", "No value for key")),
         "The data couldn’t be read because it is missing. (sha256)"},
        {libraryError, kCorrupted},
        {std::make_exception_ptr(CancellationError()), std::nullopt},
        {nullptr, std::nullopt},
        {std::make_exception_ptr(42), "An unexpected error occurred. Try again."},
    };
    for (const auto& [failure, message] : cases) {
        EXPECT_EQ(userMessage(failure), message);
    }
}

}  // namespace
}  // namespace quaylet
