#include "core/errors/UserMessage.h"

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "core/errors/CancellationError.h"
#include "core/errors/DecodingError.h"
#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

constexpr const char* kBoot =
    "Simulator couldn’t start. Open Simulator, confirm an iPhone is available, then try again.";

// A failed command's sentence follows the simulator step its command line names.
TEST(UserMessageTest, ShowsEachKindOfFailureAndHidesCancellation) {
    using Kind = DecodingError::Kind;
    const auto failed = [](const char* command) {
        return std::make_exception_ptr(QuayletError::commandFailed(command, 1, "x"));
    };
    const std::pair<std::exception_ptr, std::optional<std::string>> cases[] = {
        {failed("/usr/bin/xcrun simctl boot ABC"), kBoot},
        {failed("/usr/bin/xcrun simctl install ABC /a.app"),
         "The app couldn’t be installed. Restart Simulator, then try again."},
        {failed("/usr/bin/xcrun simctl launch ABC com.x"),
         "The app was installed but didn’t open. Restart Simulator, then try again."},
        {failed("simctl launch simctl boot"), kBoot},
        {failed("/usr/bin/xcrun simctl bootstatus ABC -b"), kBoot},
        {failed("XCRUN SIMCTL BOOT ABC"),
         "A required Mac command failed. Open Diagnostics, then try again."},
        {std::make_exception_ptr(QuayletError::noCompatibleSimulator("17.2.0", {"16.4.0"})),
         "No compatible Simulator is installed. This build needs iOS 17.2.0 or later. Install a "
         "matching runtime in Xcode."},
        {std::make_exception_ptr(QuayletError::unsupportedSchema(2)),
         "This build needs a newer version of Quaylet. Check for updates, then try again."},
        {std::make_exception_ptr(
             DecodingError(Kind::dataCorrupted, "previews[2].createdAt", "Invalid ISO-8601 date")),
         "The data couldn’t be read because it isn’t in the correct format. "
         "(previews[2].createdAt)"},
        {std::make_exception_ptr(DecodingError(Kind::keyNotFound, "sha256", "No value for key")),
         "The data couldn’t be read because it is missing. (sha256)"},
        {std::make_exception_ptr(CancellationError()), std::nullopt},
        {std::make_exception_ptr(42), "An unexpected error occurred. Try again."},
    };
    for (const auto& [failure, message] : cases) {
        EXPECT_EQ(userMessage(failure), message);
    }
}

}  // namespace
}  // namespace quaylet
