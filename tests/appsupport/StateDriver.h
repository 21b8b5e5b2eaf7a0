#pragma once

#include <QUrl>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "doubles/AppStateDoubles.h"
#include "feature/AppState.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// Bytes a held download reports, a fifth of a second apart, out of `expected`.
struct DownloadReports {
    std::vector<std::int64_t> received;
    std::int64_t expected = 0;
};

// A real AppState over doubles of the core services, in throwaway user folders, brought into
// any situation the views show through the state's own operations.
class StateDriver {
  public:
    struct Options {
        bool signedIn = true;
    };

    StateDriver();
    explicit StateDriver(Options options);
    ~StateDriver();

    AppState& state() { return *state_; }
    FakePreviewService& previewService() { return *previewService_; }
    FakeSimulatorService& simulatorService() { return *simulatorService_; }
    FakeTokenStore& tokenStore() { return *tokenStore_; }
    const std::filesystem::path& folder() const { return folder_.path(); }

    // Each waits until the state shows the outcome; a held diagnosis runs until the driver goes.
    void showEnvironment(const EnvironmentSnapshot& snapshot);
    void holdDiagnostics();
    void loadBuilds(const std::vector<PreviewSummary>& builds);
    void failBuilds(const std::string& message);

    // Opens a pull-request build and holds the launch once it reaches the stage (and has
    // reported the download's bytes, then the early boot's lines), until release() or finish;
    // the build's manifest is shown from fetching on.
    void holdRemoteLaunchAt(LaunchStage stage, const PreviewManifest& manifest,
                            const DownloadReports& download = {},
                            const std::vector<std::string>& earlyBoot = {});
    void holdLocalLaunchAt(LaunchStage stage, const std::filesystem::path& app);
    void finishHeldLaunch(const SelfTestReport& report);
    void failHeldLaunch(const std::string& message);
    // The steps each later launch records in its timeline.
    void recordSteps(const std::vector<TimelineEntry>& steps);
    // Receives a link the way the desktop hands one over.
    void receive(const QUrl& url);

    // Processes events until the condition holds; false after a generous bound.
    static bool waitUntil(const std::function<bool()>& condition);

  private:
    struct HeldLaunch;

    TemporaryDirectory folder_;
    ScopedEnvironment environment_;
    std::shared_ptr<FakePreviewService> previewService_ = std::make_shared<FakePreviewService>();
    std::shared_ptr<FakeSimulatorService> simulatorService_ =
        std::make_shared<FakeSimulatorService>();
    std::shared_ptr<FakeTokenStore> tokenStore_ = std::make_shared<FakeTokenStore>();
    std::shared_ptr<HeldLaunch> held_;
    std::shared_ptr<Latch> heldDiagnosis_;
    std::unique_ptr<AppState> state_;
};

}  // namespace quaylet::testing
