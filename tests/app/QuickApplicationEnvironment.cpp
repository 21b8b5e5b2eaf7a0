#include <gtest/gtest.h>

#include <optional>

#include "appsupport/QuickScene.h"

namespace quaylet {
namespace {

// The views need one application object for the whole program, made before any test runs.
class QuickApplicationEnvironment : public ::testing::Environment {
    void SetUp() override { application_.emplace("quaylet-app-tests"); }
    void TearDown() override { application_.reset(); }

    std::optional<testing::QuickApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QuickApplicationEnvironment);

}  // namespace
}  // namespace quaylet
