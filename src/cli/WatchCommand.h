#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "feature/AppState.h"

namespace quaylet {

struct WatchCommandOptions {
    std::string pullRequest;  // "owner/name#42"
    bool open = false;
    int intervalSeconds = 60;
};

// `quaylet watch`: reports the pull request's newest ready build, then every newer one, each
// after it is verified in the cache, and with `open` launches each. Runs until Ctrl-C (a byte
// on interrupts) or a refused token. launchOutcome prints how a launch ended and gives its
// exit status. Returns the program's exit status.
int watchPullRequest(AppState& state, const AppState::Collaborators& collaborators,
                     const WatchCommandOptions& options, int interrupts,
                     const std::function<int(const AppState&)>& launchOutcome);

}  // namespace quaylet
