#include <gtest/gtest.h>

#include <memory>

#include "appsupport/QuickScene.h"

namespace quaylet {
namespace {

// The views need one application object for the whole program, made before any test runs.
class QuickApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        application_ = std::make_unique<testing::QuickApplication>("quaylet-app-tests");
    }
    void TearDown() override { application_.reset(); }

  private:
    std::unique_ptr<testing::QuickApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QuickApplicationEnvironment);

}  // namespace
}  // namespace quaylet
