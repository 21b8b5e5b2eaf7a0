#include "cli/WatchCommand.h"

#include <QCoreApplication>

#include <algorithm>
#include <optional>

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "cli/TerminalProgress.h"
#include "core/errors/QuayletError.h"
#include "core/service/PreviewIdentifier.h"
#include "feature/PullRequestWatcher.h"

namespace quaylet {

int watchPullRequest(AppState& state, const AppState::Collaborators& collaborators,
                     const WatchCommandOptions& options, const Interrupt& interrupt,
                     const std::function<int(const Launch&)>& launchOutcome) {
    const std::optional<PullRequestWatch> watch = parsePullRequestReference(options.pullRequest);
    if (!watch) {
        printError("Name the pull request as owner/repository#number.");
        return kUsageError;
    }
    if (!state.account().isSignedIn()) {
        printError("Not signed in. Run “quaylet sign-in” first.");
        return kFailure;
    }

    TerminalProgress progress(state.launch(), stdout);
    // Only this command's watch: the application's watches stay in its settings.
    const std::chrono::seconds interval(options.intervalSeconds);
    PullRequestWatcher watcher(state.account(), state.buildsList(), state.launch(), state.cache(),
                               collaborators.previewService, std::nullopt,
                               {.interval = interval,
                                .longestInterval = std::max<std::chrono::milliseconds>(
                                    interval, std::chrono::minutes(10))});

    // The launch of a reported build, while it runs. Ctrl-C lets it unwind (its host tools
    // stopped, its working folders removed) and ends the watch as `open` ends.
    std::optional<QFuture<void>> launch;
    bool interrupted = false;
    QObject::connect(&watcher, &PullRequestWatcher::prefetched, [&](const PreviewSummary& build) {
        printLine("Ready: " + build.title() + " · " + build.commitSha.substr(0, 7) + " · " +
                  previewLink(build.previewID));
        if (options.open && !interrupted) {
            launch = state.launch().open(QString::fromStdString(build.previewID));
            launch->then([&] {
                progress.finish();
                if (!interrupted) {
                    launchOutcome(state.launch());
                    return;
                }
                if (state.launch().activeDetail()) {
                    printLine(*state.launch().activeDetail());  // "Build canceled"
                }
                QCoreApplication::exit(kInterrupted);
            });
        }
    });
    QObject::connect(&watcher, &PullRequestWatcher::prefetchFailed,
                     [](const PreviewSummary& build, const std::string& message) {
                         printError(build.title() + ": " + message);
                     });
    // The watcher ends a watch whose pull request has been out of the list for too long.
    QObject::connect(&watcher, &PullRequestWatcher::watchesChanged, [&] {
        if (watcher.watches().empty()) {
            const auto days =
                std::chrono::duration_cast<std::chrono::days>(PullRequestWatcher::kQuietLimit);
            printError(watch->reference() + " hasn’t been in the builds list for " +
                       std::to_string(days.count()) + " days, so the watch has ended.");
            QCoreApplication::exit(kSuccess);
        }
    });
    // The state signs out when the service refuses the token; the watch cannot go on.
    QObject::connect(&state.account(), &Account::isSignedInChanged, [&] {
        if (!state.account().isSignedIn()) {
            printError(QuayletError::authenticationRequired().errorDescription());
            QCoreApplication::exit(kFailure);
        }
    });
    // The state has already been told to cancel its launch (see main).
    QObject::connect(&interrupt, &Interrupt::received, [&] {
        interrupted = true;
        if (!launch || launch->isFinished()) {
            progress.finish();
            QCoreApplication::exit(kInterrupted);
        }
    });

    printError("Watching " + watch->reference() + " every " +
               std::to_string(options.intervalSeconds) + " s. Press Ctrl-C to stop.");
    watcher.start(nullptr);
    watcher.watch(*watch);
    return QCoreApplication::exec();
}

}  // namespace quaylet
