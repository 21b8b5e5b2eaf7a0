#pragma once

#include <gtest/gtest.h>

#include "doubles/AppStateDoubles.h"
#include "feature/AppState.h"
#include "qtcore/EventLoop.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// A real AppState over the doubles, with a stored token, its own settings file and a clock
// the test moves.
class StateHarness : public ::testing::Test {
  protected:
    StateHarness() { tokens->token = "stored-token"; }

    AppState& makeState(QUrl base = QUrl("https://previews.example.com")) {
        state = std::make_unique<AppState>(
            base, AppState::Collaborators{
                      service, simulator, tokens, Settings(settingsFile),
                      PendingSignIn(folder.path() / "pending", [this] { return now; }),
                      LaunchHistory(folder.path() / "launches.jsonl")});
        return *state;
    }

    TemporaryDirectory folder;
    std::filesystem::path settingsFile = folder.path() / "settings.json";
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
    std::shared_ptr<FakePreviewService> service = std::make_shared<FakePreviewService>();
    std::shared_ptr<FakeSimulatorService> simulator = std::make_shared<FakeSimulatorService>();
    std::shared_ptr<FakeTokenStore> tokens = std::make_shared<FakeTokenStore>();
    std::unique_ptr<AppState> state;
};

}  // namespace quaylet::testing
