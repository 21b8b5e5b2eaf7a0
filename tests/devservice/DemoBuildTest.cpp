#include <gtest/gtest.h>

#include "core/process/ProcessRunner.h"
#include "support/DevServiceProcess.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using testing::DevServiceProcess;

TEST(DemoBuildTest, RefusesAPreviewIdThatIsNotAPlainName) {
    const testing::TemporaryDirectory builds;
    const auto result = ProcessRunner().run(
        ToolCommand{DevServiceProcess::program(),
                    {"make-demo-build", builds.path().string(), "--preview-id", "../escape"}},
        std::stop_token());
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(std::filesystem::exists(builds.path().parent_path() / "escape"));
}

}  // namespace
}  // namespace quaylet
