#pragma once

#include <functional>
#include <string>

#include "feature/AppState.h"

namespace quaylet {

class Interrupt;

struct WatchCommandOptions {
    std::string pullRequest;  // "owner/name#42"
    bool open = false;
    int intervalSeconds = 60;
};

// `quaylet watch`: reports the pull request's newest ready build, then every newer one, each
// after it is verified in the cache, and with `open` launches each. Runs until Ctrl-C or a
// refused token. launchOutcome prints how a launch ended. Returns the program's exit status.
int watchPullRequest(AppState& state, const AppState::Collaborators& collaborators,
                     const WatchCommandOptions& options, const Interrupt& interrupt,
                     const std::function<int(const Launch&)>& launchOutcome);

}  // namespace quaylet
