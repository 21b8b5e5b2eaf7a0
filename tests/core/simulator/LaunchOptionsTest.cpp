#include "core/simulator/LaunchOptions.h"

#include <gtest/gtest.h>

#include "core/errors/QuayletError.h"

namespace quaylet {
namespace {

// The command line's test reads the usual mistakes; these would carry bytes through to the
// variables or the URL handler of the app.
TEST(LaunchOptionsTest, RefusesNamesAndURLsThatWouldSmuggleBytes) {
    EXPECT_EQ(parseEnvironmentAssignment("A-B=x"), std::nullopt);
    EXPECT_THROW(checkLaunchOptions({.environment = {{"A=B", "c"}}}), QuayletError);
    for (const char* url : {"myapp://screen with space", "myapp://screen\n", "-flag"}) {
        EXPECT_THROW(checkLaunchOptions({.openURL = url}), QuayletError) << url;
    }
    EXPECT_NO_THROW(checkLaunchOptions({.openURL = "myapp://screen/42"}));
}

}  // namespace
}  // namespace quaylet
