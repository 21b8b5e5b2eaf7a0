#pragma once

#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "doubles/AppStateDoubles.h"
#include "feature/AppState.h"
#include "feature/PendingSignIn.h"
#include "feature/Settings.h"
#include "qtcore/EventLoop.h"
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

    StateDriver() : StateDriver(Options{}) {}
    explicit StateDriver(Options options)
        : environment_("XDG_CONFIG_HOME", (folder_.path() / "config").string()) {
        if (options.signedIn) {
            tokenStore_->token = "stored-token";
        }
        state_ = std::make_unique<AppState>(
            QUrl("https://previews.example.com"),
            AppState::Collaborators{previewService_, simulatorService_, tokenStore_,
                                    Settings(Settings::defaultFile()),
                                    PendingSignIn(folder_.path() / "state" / "pending-sign-in")});
    }

    ~StateDriver() {
        if (held_) {
            held_->failure = "The test ended";
            held_->released.open();
        }
        if (heldDiagnosis_) {
            heldDiagnosis_->open();
        }
        // The state's workers finish against the doubles, which outlive them.
        state_.reset();
    }

    AppState& state() { return *state_; }
    FakePreviewService& previewService() { return *previewService_; }
    FakeSimulatorService& simulatorService() { return *simulatorService_; }
    FakeTokenStore& tokenStore() { return *tokenStore_; }
    const std::filesystem::path& folder() const { return folder_.path(); }

    // Each waits until the state shows the outcome; a held diagnosis runs until the driver goes.
    void showEnvironment(const EnvironmentSnapshot& snapshot) {
        simulatorService_->snapshot = snapshot;
        waitFor(state_->diagnostics().runDiagnostics());
    }
    void holdDiagnostics() {
        auto held = heldDiagnosis_ = std::make_shared<Latch>();
        simulatorService_->onEnvironment = [held] { held->wait(); };
        state_->diagnostics().runDiagnostics();
        waitFor([&] { return state_->diagnostics().isCheckingEnvironment(); });
    }
    void loadBuilds(const std::vector<PreviewSummary>& builds) {
        previewService_->previews = builds;
        refreshBuilds(nullptr);
    }
    void failBuilds(const std::string& message) {
        refreshBuilds(std::make_exception_ptr(QuayletError::previewUnavailable(message)));
    }

    // Opens a pull-request build and holds the launch once it reaches the stage (and has
    // reported the download's bytes, then the early boot's lines), until release() or finish;
    // the build's manifest is shown from fetching on.
    void holdRemoteLaunchAt(LaunchStage stage, const PreviewManifest& manifest,
                            const DownloadReports& download = {},
                            const std::vector<std::string>& earlyBoot = {}) {
        auto held = held_ = std::make_shared<HeldLaunch>();
        const auto [reports, rest] = reportsAround(stage, LaunchSource::remote);
        previewService_->onLaunch = [held, reports, rest, manifest, download,
                                     earlyBoot](const LaunchCall& call) {
            for (const RemoteLaunchStage reported : reports) {
                call.progress(reported);
                if (reported == RemoteLaunchStage::fetching) {
                    call.manifest(manifest);
                }
            }
            // Apart enough for each report to reach the state and for a rate to show.
            for (const std::int64_t received : download.received) {
                call.download(received, download.expected);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            for (const std::string& line : earlyBoot) {
                if (call.earlyBoot) {
                    call.earlyBoot(line);
                }
            }
            return held->await(call.progress, rest, call.stop);
        };
        state_->launch().open(QString::fromStdString(manifest.previewID));
        waitFor([&] {
            return held->reached && state_->launch().stage() == stage &&
                   (download.received.empty() ||
                    state_->launch().downloadedBytes() == download.received.back()) &&
                   (earlyBoot.empty() || state_->launch().bootDetail() == earlyBoot.back());
        });
    }
    void holdLocalLaunchAt(LaunchStage stage, const std::filesystem::path& app) {
        auto held = held_ = std::make_shared<HeldLaunch>();
        const auto [reports, rest] = reportsAround(stage, LaunchSource::local);
        simulatorService_->onRun = [held, reports, rest](
                                       const SimulatorService::ProgressCallback& progress,
                                       std::stop_token) {
            for (const RemoteLaunchStage reported : reports) {
                progress(reported);
            }
            return held->await(progress, rest);
        };
        state_->launch().runLocalApplication(
            QUrl::fromLocalFile(QString::fromStdString(app.string())), QString(), true);
        waitFor([&] { return held->reached && state_->launch().stage() == stage; });
    }
    void finishHeldLaunch(const SelfTestReport& report) {
        held_->report = report;
        held_->released.open();
        waitFor([&] { return state_->launch().report().has_value(); });
    }
    void failHeldLaunch(const std::string& message) {
        held_->failure = message;
        held_->released.open();
        waitFor([&] { return state_->launch().errorMessage().has_value(); });
    }
    // The steps each later launch records in its timeline.
    void recordSteps(const std::vector<TimelineEntry>& steps) {
        previewService_->steps = steps;
        simulatorService_->steps = steps;
    }
    // Receives a link the way the desktop hands one over.
    void receive(const QUrl& url) { state_->launch().receive(url); }

  private:
    using Reports = std::vector<RemoteLaunchStage>;
    void refreshBuilds(std::exception_ptr failure) {
        previewService_->listFailure = std::move(failure);
        waitFor(state_->buildsList().refreshBuilds());
    }

    // The core reports of a whole launch of the given source, split after the one that brings
    // it to the stage.
    static std::pair<Reports, Reports> reportsAround(LaunchStage target, LaunchSource source) {
        Reports all;
        for (const RemoteLaunchStage reported : kAllRemoteLaunchStages) {
            if (launchStage(reported, source)) {
                all.push_back(reported);
            }
        }
        const auto at = std::find_if(all.begin(), all.end(), [&](RemoteLaunchStage reported) {
            return launchStage(reported, source) == target;
        });
        if (at == all.end()) {
            throw std::invalid_argument("A launch of this source never reaches that stage");
        }
        return {Reports(all.begin(), at + 1), Reports(at + 1, all.end())};
    }

    // The launch a test holds: the double's worker thread waits here until the test decides.
    struct HeldLaunch {
        std::atomic<bool> reached = false;
        Latch released;
        std::optional<SelfTestReport> report;
        std::string failure;

        // Holds the launch; once released, a finishing launch reports the rest of its stages.
        SelfTestReport await(const PreviewService::ProgressCallback& progress, const Reports& rest,
                             std::stop_token stop = {}) {
            reached = true;
            if (!released.wait(stop)) {
                throw CancellationError();
            }
            if (!report) {
                throw QuayletError::invalidApplication(failure);
            }
            for (const RemoteLaunchStage reported : rest) {
                progress(reported);
            }
            return *report;
        }
    };

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
