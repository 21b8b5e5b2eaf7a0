#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/errors/UserMessage.h"
#include "core/process/DeveloperTools.h"
#include "core/service/RemotePreviewLauncher.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/DevServiceProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedTools.h"
#include "support/Signpost.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

using Stages = std::vector<RemoteLaunchStage>;

// How one launch ended.
struct LaunchOutcome {
    Stages stages;
    std::exception_ptr error;
    std::optional<SelfTestReport> report;

    // The sentence a user reads; absent after success and after cancellation.
    std::optional<std::string> message() const { return userMessage(error); }
    bool wasCancelled() const { return isCancellation(error); }
};

// The host's tools with one misbehaving: `tool` runs `body` (shell) instead of its real work
// when its second argument is `subcommand` ("simctl install …"), or on every call when
// subcommand is empty; everything else reaches the real tool.
DeveloperTools toolsWithFault(ScriptedTools& folder, const std::string& tool,
                              const std::string& subcommand, const std::string& body);

// The whole road of a pull-request launch on this machine, laid afresh for each test: the
// loopback service serving one build, the stand-in simulator with a device set of its own
// (every device shut down), an empty cache and a temporary folder of the test's own. A
// fault test breaks one part of the road, launches, and ends with
// expectCleanMachineAndWorkingNextLaunch().
class LaunchRoadTest : public ::testing::Test {
  public:
    static constexpr const char* kToken = "fault-token";
    static constexpr const char* kPreview = "pr-faults";
    static constexpr const char* kPreviewLink = "quaylet://preview/pr-faults";

  protected:
    LaunchRoadTest();

    RemotePreviewLauncher launcherWith(const DeveloperTools& tools) const;

    // The launched app's first look; the soak shortens it to launch hundreds of times.
    std::chrono::milliseconds firstLook = SimulatorLauncher::kFirstLook;
    // A pull-request launch; onStage runs as each stage is reported, before its work.
    LaunchOutcome launch(const DeveloperTools& tools = DeveloperTools::forThisHost(),
                         std::stop_token stop = {},
                         const std::function<void(RemoteLaunchStage)>& onStage = {}) const;
    // The same launch on a thread of its own, stopped once `reached` returns: for waits that
    // only cancellation ends.
    LaunchOutcome launchAndCancelWhen(const std::function<void()>& reached,
                                      const DeveloperTools& tools = DeveloperTools::forThisHost());

    // Arms one of the service's test-only faults on a route ("manifest", "download" or
    // "artifact"); `fault` is its JSON text, such as {"fault": "drop", "at": 0.4}.
    void armFault(const std::string& route, const std::string& fault) const;
    // Clears the faults and the record of archive requests.
    void clearFaults() const;
    // The Range header ("" for none) of each archive request since the faults were cleared.
    std::vector<std::string> artifactRanges() const;
    // Returns once the service holds a request unanswered.
    void awaitStalledRequest() const;

    // What every fault must leave behind: no process of ours still running, no working folder
    // of the process runner in the temporary folder, no unverified archive in the cache (a
    // partial download may stay, under its own name, for the next launch to resume), and a
    // next launch that works.
    void expectCleanMachineAndWorkingNextLaunch();

    std::filesystem::path buildDirectory() const;
    std::filesystem::path cachedArchive() const { return buildDirectory() / "artifact.zip"; }

    TemporaryDirectory scratch;
    const std::filesystem::path temporaryFolder;
    ScopedEnvironment temporaryEnvironment;
    ScopedEnvironment simulatorEnvironment;
    const std::filesystem::path builds;
    // A test may move it onto a file system of its own before launching.
    std::filesystem::path cacheRoot;
    const fixtures::AppBundleBuilder app;
    const std::string payload;  // a large resource, so the archive takes several writes
    const std::string digest;   // of the archive the service serves
    DevServiceProcess service;

  private:
    // Writes the build the service serves and returns its archive's digest.
    std::string publishBuild() const;
};

}  // namespace quaylet::testing
