// quaylet: the terminal front end. It drives the same AppState as the graphical app and
// prints only what the state says.
#include <QCoreApplication>
#include <QFuture>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QUrl>

#include <sys/socket.h>
#include <unistd.h>
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli/CacheCommand.h"
#include "cli/TerminalProgress.h"
#include "cli/WatchCommand.h"
#include "feature/AppState.h"
#include "feature/ServiceBaseURL.h"
#include "feature/Settings.h"

namespace quaylet {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr int kInterrupted = 130;  // as a shell reports a command ended by Ctrl-C

int interruptPipe[2] = {-1, -1};

void onInterrupt(int) {
    const char byte = 1;
    // Nothing can be done in a signal handler about a full pipe: one byte is enough.
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
}

// Runs the event loop until the future ends.
void await(const QFuture<void>& future) {
    if (!future.isFinished()) {
        QFuture<void>(future).then(qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

void printError(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

void printLine(const std::optional<std::string>& text) {
    if (text) {
        std::printf("%s\n", text->c_str());
    }
}

// The outcome of a launch as the state shows it: the app and where it runs, or the error.
int launchOutcome(const AppState& state) {
    if (state.stage() == LaunchStage::running && state.report()) {
        printLine(state.activeAppName());
        printLine(state.activeDetail());
        return kSuccess;
    }
    if (state.errorMessage()) {
        printError(*state.errorMessage());
    } else if (state.activeDetail()) {
        printError(*state.activeDetail());  // such as "Sign in once to open this private build"
    }
    return kFailure;
}

int openLink(AppState& state, const std::string& link) {
    const QUrl url(QString::fromStdString(link));
    TerminalProgress progress(state, stdout);

    // Ctrl-C cancels a pull-request launch; the state then says "Build canceled".
    bool interrupted = false;
    QSocketNotifier interrupts(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(interruptPipe[0], &byte, 1);
        interrupted = true;
        state.cancelLaunch();
    });

    await(state.receive(url));
    progress.finish();
    if (interrupted) {
        printLine(state.activeDetail());
        return kInterrupted;
    }
    if (url.host() == QLatin1String("auth")) {
        if (state.isSignedIn() && !state.errorMessage()) {
            printLine(state.activeDetail());
            return kSuccess;
        }
        printError(state.errorMessage().value_or(state.activeDetail().value_or("")));
        return kFailure;
    }
    return launchOutcome(state);
}

int runLocal(AppState& state, const Settings& settings, const std::string& path,
             const std::optional<std::string>& simulator, bool noActivate) {
    TerminalProgress progress(state, stdout);
    const QString udid =
        QString::fromStdString(simulator.value_or(settings.preferredSimulatorUDID()));
    const bool activate = !noActivate && settings.activateSimulator();
    await(state.runLocalApplication(QUrl::fromLocalFile(QString::fromStdString(path)), udid,
                                    activate));
    progress.finish();
    return launchOutcome(state);
}

int listBuilds(AppState& state) {
    if (!state.isSignedIn()) {
        printError("Not signed in. Run “quaylet sign-in” first.");
        return kFailure;
    }
    await(state.refreshBuilds());
    if (state.buildsError()) {
        printError(*state.buildsError());
        return kFailure;
    }
    if (state.builds().empty()) {
        std::printf("No builds yet.\n");
    }
    for (const PreviewSummary& build : state.builds()) {
        std::string status = build.status;
        if (!status.empty()) {
            status[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(status[0])));
        }
        std::printf("%s\n  %s · PR #%lld · %s · %s\n  quaylet://preview/%s\n",
                    build.title().c_str(), build.repository.c_str(),
                    static_cast<long long>(build.pullRequest), build.commitSha.substr(0, 7).c_str(),
                    status.c_str(), build.previewId.c_str());
    }
    return kSuccess;
}

int doctor(AppState& state) {
    await(state.runDiagnostics());
    const auto& environment = state.environment();
    if (!environment) {
        return kFailure;
    }
    std::size_t available = 0;
    if (environment->inventory) {
        for (const auto& device : environment->inventory->devices) {
            available += device.isAvailable ? 1 : 0;
        }
    }
    const auto row = [](bool passes, const char* name, const std::string& value) {
        std::printf("%s %-18s %s\n", passes ? "✓" : "✗", name, value.c_str());
    };
    row(environment->xcodePath.has_value(), "Xcode", environment->xcodePath.value_or("Not found"));
    row(environment->simctlPath.has_value(), "Simulator tools",
        environment->simctlPath.value_or("Not found"));
    row(environment->architecture != "unknown", "Mac architecture", environment->architecture);
    row(available > 0, "Simulator devices", std::to_string(available) + " available");
    std::printf("%s\n", environment->failures.empty() ? "This Mac is ready" : "Action required");
    for (const auto& failure : environment->failures) {
        printError(failure);
    }
    return environment->isReady() ? kSuccess : kFailure;
}

int signIn(AppState& state, bool noBrowser) {
    const QUrl url = state.beginSignIn();
    if (url.isEmpty()) {
        printError(state.errorMessage().value_or(""));
        return kFailure;
    }
    std::printf("Open this page to sign in with GitHub:\n%s\n", qPrintable(url.toString()));
    if (!noBrowser) {
        const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (!opener.isEmpty()) {
            QProcess::startDetached(opener, {url.toString()});
        }
    }
    return kSuccess;
}

int signOut(AppState& state) {
    await(state.signOut());
    if (state.errorMessage()) {
        printError(*state.errorMessage());
        return kFailure;
    }
    printLine(state.activeDetail());
    return kSuccess;
}

int clearCache(AppState& state) {
    await(state.clearDownloadCache());
    if (state.errorMessage()) {
        printError(*state.errorMessage());
        return kFailure;
    }
    printLine(state.activeDetail());
    return kSuccess;
}

int settingsCommand(Settings& settings, const std::string& key,
                    const std::optional<std::string>& value) {
    if (key.empty()) {
        std::printf("%s = %s\n%s = %s\n%s = %g\n", Settings::kPreferredSimulatorKey,
                    settings.preferredSimulatorUDID().c_str(), Settings::kActivateSimulatorKey,
                    settings.activateSimulator() ? "true" : "false", Settings::kCacheLimitKey,
                    settings.cacheLimitGB());
        return kSuccess;
    }
    if (key == Settings::kCacheLimitKey) {
        std::printf("%g\n", settings.cacheLimitGB());  // a new limit is set through the state
        return kSuccess;
    }
    if (key == Settings::kPreferredSimulatorKey) {
        if (value) {
            settings.setPreferredSimulatorUDID(*value);
        } else {
            std::printf("%s\n", settings.preferredSimulatorUDID().c_str());
        }
        return kSuccess;
    }
    // The key is checked by the parser, so this is activateSimulator.
    if (!value) {
        std::printf("%s\n", settings.activateSimulator() ? "true" : "false");
    } else if (*value == "true" || *value == "false") {
        settings.setActivateSimulator(*value == "true");
    } else {
        printError("activateSimulator takes true or false.");
        return kUsageError;
    }
    return kSuccess;
}

}  // namespace
}  // namespace quaylet

int main(int argc, char** argv) {
    using namespace quaylet;
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quaylet"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUAYLET_VERSION));

    CLI::App cli{"Opens iOS Simulator builds of pull requests from the terminal.", "quaylet"};
    cli.set_version_flag("--version", QUAYLET_VERSION);
    cli.require_subcommand(1);

    std::string link;
    auto* open =
        cli.add_subcommand("open", "Open a quaylet:// link: a pull-request build or a sign-in");
    open->add_option("url", link, "The link")->required();

    std::string appPath;
    std::optional<std::string> simulator;
    bool noActivate = false;
    auto* run = cli.add_subcommand("run", "Run an iOS Simulator build from disk");
    run->add_option("app", appPath, "The .app folder")->required()->check(CLI::ExistingDirectory);
    run->add_option("--simulator", simulator, "The UDID of the simulator to use");
    run->add_flag("--no-activate", noActivate, "Leave Simulator in the background");

    auto* builds = cli.add_subcommand("builds", "List your recent pull-request builds");
    auto* doctorCommand = cli.add_subcommand("doctor", "Check this machine's tools");

    bool noBrowser = false;
    auto* signInCommand = cli.add_subcommand("sign-in", "Sign in with GitHub");
    signInCommand->add_flag("--no-browser", noBrowser, "Print the sign-in page without opening it");
    auto* signOutCommand = cli.add_subcommand("sign-out", "Sign out and forget the stored token");
    auto* clearCacheCommand = cli.add_subcommand("clear-cache", "Remove downloaded builds");
    auto* cacheSubcommand =
        cli.add_subcommand("cache", "List downloaded builds and their sizes on disk");
    auto* pruneCommand =
        cacheSubcommand->add_subcommand("prune",
                                        "Remove the least recently launched builds "
                                        "until the cache fits cacheLimitGB");

    WatchCommandOptions watchOptions;
    auto* watchCommand = cli.add_subcommand(
        "watch", "Fetch each new build of a pull request ahead and report it, until Ctrl-C");
    watchCommand->add_option("pull-request", watchOptions.pullRequest, "owner/repository#number")
        ->required();
    watchCommand->add_flag("--open", watchOptions.open, "Also open each reported build");
    watchCommand
        ->add_option("--interval", watchOptions.intervalSeconds,
                     "Seconds between looks at the builds")
        ->capture_default_str()
        ->check(CLI::Range(1, 24 * 60 * 60));

    std::string key;
    std::optional<std::string> value;
    auto* settingsSubcommand =
        cli.add_subcommand("settings",
                           "Show or change a setting (preferredSimulatorUDID, "
                           "activateSimulator, cacheLimitGB)");
    settingsSubcommand->add_option("key", key, "The setting")
        ->check(CLI::IsMember({Settings::kPreferredSimulatorKey, Settings::kActivateSimulatorKey,
                               Settings::kCacheLimitKey}));
    settingsSubcommand->add_option("value", value, "Its new value");

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = cli.exit(error);
        return status == 0 ? 0 : kUsageError;
    }

    Settings settings(Settings::defaultFile());
    const bool setsCacheLimit = key == Settings::kCacheLimitKey && value;
    if (settingsSubcommand->parsed() && !setsCacheLimit) {
        try {
            return settingsCommand(settings, key, value);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return kFailure;
        }
    }

    QUrl baseURL;
    try {
        baseURL = serviceBaseURL();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return kFailure;
    }
    const AppState::Collaborators collaborators = AppState::Collaborators::forThisHost(baseURL);
    AppState state(baseURL, collaborators);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, interruptPipe) == 0) {
        std::signal(SIGINT, onInterrupt);
    }

    if (open->parsed()) {
        return openLink(state, link);
    }
    if (watchCommand->parsed()) {
        return watchPullRequest(state, collaborators, watchOptions, interruptPipe[0],
                                launchOutcome);
    }
    if (setsCacheLimit) {
        return setCacheLimit(state, *value, await);
    }
    if (cacheSubcommand->parsed()) {
        return cacheCommand(state, pruneCommand->parsed(), await);
    }
    if (run->parsed()) {
        return runLocal(state, settings, appPath, simulator, noActivate);
    }
    if (builds->parsed()) {
        return listBuilds(state);
    }
    if (doctorCommand->parsed()) {
        return doctor(state);
    }
    if (signInCommand->parsed()) {
        return signIn(state, noBrowser);
    }
    if (signOutCommand->parsed()) {
        return signOut(state);
    }
    return clearCacheCommand->parsed() ? clearCache(state) : kUsageError;
}
