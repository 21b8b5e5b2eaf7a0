#include "cli/WatchCommand.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

#include "cli/TerminalProgress.h"
#include "core/errors/QuayletError.h"
#include "feature/PullRequestWatcher.h"

namespace quaylet {
namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr int kInterrupted = 130;

}  // namespace

int watchPullRequest(AppState& state, const AppState::Collaborators& collaborators,
                     const WatchCommandOptions& options, int interrupts,
                     const std::function<int(const AppState&)>& launchOutcome) {
    const std::optional<PullRequestWatch> watch = parsePullRequestReference(options.pullRequest);
    if (!watch) {
        std::fprintf(stderr, "Name the pull request as owner/repository#number.\n");
        return kUsageError;
    }
    if (!state.isSignedIn()) {
        std::fprintf(stderr, "Not signed in. Run “quaylet sign-in” first.\n");
        return kFailure;
    }

    TerminalProgress progress(state, stdout);
    // Only this command's watch: the application's watches stay in its settings.
    const std::chrono::seconds interval(options.intervalSeconds);
    PullRequestWatcher watcher(
        state, collaborators.previewService, collaborators.tokenStore, std::nullopt,
        {.interval = interval,
         .longestInterval =
             std::max<std::chrono::milliseconds>(interval, std::chrono::minutes(10))});

    QObject::connect(&watcher, &PullRequestWatcher::prefetched, [&](const PreviewSummary& build) {
        std::printf("Ready: %s · %s · quaylet://preview/%s\n", build.title().c_str(),
                    build.commitSha.substr(0, 7).c_str(), build.previewId.c_str());
        std::fflush(stdout);
        if (options.open) {
            state.open(QString::fromStdString(build.previewId)).then([&] {
                progress.finish();
                launchOutcome(state);
                std::fflush(stdout);
            });
        }
    });
    QObject::connect(&watcher, &PullRequestWatcher::prefetchFailed,
                     [](const PreviewSummary& build, const std::string& message) {
                         std::fprintf(stderr, "%s: %s\n", build.title().c_str(), message.c_str());
                     });
    // The state signs out when the service refuses the token; the watch cannot go on.
    QObject::connect(&state, &AppState::isSignedInChanged, [&] {
        if (!state.isSignedIn()) {
            std::fprintf(stderr, "%s\n",
                         QuayletError::authenticationRequired().errorDescription().c_str());
            QCoreApplication::exit(kFailure);
        }
    });
    QSocketNotifier interrupted(interrupts, QSocketNotifier::Read);
    QObject::connect(&interrupted, &QSocketNotifier::activated, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(interrupts, &byte, 1);
        state.cancelLaunch();
        progress.finish();
        QCoreApplication::exit(kInterrupted);
    });

    watcher.start(nullptr);
    watcher.watch(*watch);
    return QCoreApplication::exec();
}

}  // namespace quaylet
