#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace quaylet::testing {
namespace {

// AppState needs an event loop on the thread that runs the tests; one application object
// serves the whole program. Test programs without a graphical application add this file.
class CoreApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { application_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { application_.reset(); }

  private:
    int argc_ = 1;
    char name_[14] = "quaylet-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new CoreApplicationEnvironment);

}  // namespace
}  // namespace quaylet::testing
