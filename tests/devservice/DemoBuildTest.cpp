#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "core/artifacts/AppInspector.h"
#include "core/artifacts/ArtifactSecurity.h"
#include "core/process/ProcessRunner.h"
#include "support/DevServiceProcess.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using testing::DevServiceProcess;
using testing::TemporaryDirectory;

// The demo build must pass every check the launcher makes before the simulator: its digest,
// the archive scan and unpacking, and the bundle identifier its manifest names.
TEST(DemoBuildTest, PassesTheLaunchersChecksAgainstItsOwnManifest) {
    const TemporaryDirectory builds;
    ProcessRunner().runChecked(
        ToolCommand{DevServiceProcess::program(),
                    {"make-demo-build", builds.path().string(), "--preview-id", "pr-42"}},
        std::stop_token());

    const auto folder = builds.path() / "pr-42";
    std::ifstream manifestFile(folder / "manifest.json");
    const auto manifest = nlohmann::json::parse(manifestFile);
    EXPECT_EQ(manifest.at("previewId"), "pr-42");
    EXPECT_EQ(manifest.at("status"), "ready");
    EXPECT_EQ(manifest.at("platform"), "iphonesimulator");
    EXPECT_EQ(manifest.at("artifactSize"), std::filesystem::file_size(folder / "artifact.zip"));

    const auto tools = DeveloperTools::forThisHost();
    const ArtifactSecurity security(ProcessRunner(), tools);
    EXPECT_NO_THROW(security.verify(folder / "artifact.zip",
                                    manifest.at("sha256").get<std::string>(), std::stop_token()));
    const auto app = security.extractSecurely(folder / "artifact.zip", builds.path() / "unpacked",
                                              std::stop_token());
    const auto metadata = AppInspector(ProcessRunner(), tools).inspect(app, std::stop_token());
    EXPECT_EQ(metadata.bundleIdentifier, manifest.at("bundleId"));
}

TEST(DemoBuildTest, RefusesAPreviewIdThatIsNotAPlainName) {
    const TemporaryDirectory builds;
    const auto result = ProcessRunner().run(
        ToolCommand{DevServiceProcess::program(),
                    {"make-demo-build", builds.path().string(), "--preview-id", "../escape"}},
        std::stop_token());
    EXPECT_NE(result.status, 0);
    EXPECT_FALSE(std::filesystem::exists(builds.path().parent_path() / "escape"));
}

}  // namespace
}  // namespace quaylet
