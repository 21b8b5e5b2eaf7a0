// quaylet: the terminal front end. It drives the same AppState as the graphical app and
// prints only what the state says, each line through the inert printers of Output.h.
#include <QCoreApplication>
#include <QDateTime>
#include <QFuture>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/CacheCommand.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"
#include "cli/TerminalProgress.h"
#include "cli/WatchCommand.h"
#include "core/artifacts/AppInspector.h"
#include "core/errors/UserMessage.h"
#include "core/service/PreviewIdentifier.h"
#include "core/simulator/LaunchOptions.h"
#include "core/support/InternetDateTime.h"
#include "feature/AppState.h"
#include "feature/RecordVariants.h"
#include "feature/ServiceBaseURL.h"
#include "feature/Settings.h"

namespace quaylet {
namespace {

void printIfPresent(const std::optional<std::string>& text) {
    if (text) {
        printLine(*text);
    }
}

// How open and run report the outcome, besides the plain lines.
struct OutcomeFormat {
    bool json = false;     // one document instead of lines
    bool timings = false;  // the timeline's line after "Running in …"
};

// The launch as one document: the state's record of it, or just the reason when it never
// started (signed out, a link that is no build).
int printLaunchDocument(const Launch& launch) {
    nlohmann::ordered_json document =
        launch.lastLaunch().value_or(nlohmann::ordered_json{{"outcome", "failed"}});
    if (!document.contains("message") || document["message"].is_null()) {
        if (const auto reason =
                launch.errorMessage() ? launch.errorMessage() : launch.activeDetail();
            reason && document["outcome"] != "running") {
            document["message"] = *reason;
        }
    }
    printJson(document);
    const auto& devices = document.value("devices", nlohmann::ordered_json::array());
    const bool ranEverywhere =
        document["outcome"] == "running" && std::ranges::all_of(devices, [](const auto& device) {
            return device["outcome"] == "running";
        });
    return ranEverywhere ? kSuccess : kFailure;
}

// The outcome of a launch as the state shows it: the app and where it runs, or the error.
// With devices named, one line for each, and success only when the build runs on all.
int launchOutcome(const Launch& launch, const LaunchTargets& targets,
                  const OutcomeFormat& format = {}) {
    // An Android build asked for what only a simulator passes on: the command line was wrong.
    const bool misused = launch.errorMessage() == kIOSOnlyLaunchOptionsMessage;
    if (format.json) {
        const int status = printLaunchDocument(launch);
        return misused ? kUsageError : status;
    }
    const auto printTimings = [&] {
        if (format.timings && launch.timelineSummary()) {
            printLine(*launch.timelineSummary());
        }
    };
    if ((!targets.simulatorUDIDs.empty() || !targets.emulatorNames.empty()) &&
        !launch.deviceOutcomes().empty()) {
        if (launch.report()) {
            printIfPresent(launch.activeAppName());
        }
        int status = kSuccess;
        for (const DeviceOutcome& outcome : launch.deviceOutcomes()) {
            if (outcome.report) {
                printLine("Running in " + outcome.deviceName);
            } else {
                printError("Couldn’t run in " + outcome.deviceName + ": " +
                           outcome.failure.value_or(""));
                status = kFailure;
            }
        }
        printTimings();
        return status;
    }
    if (launch.stage() == LaunchStage::running && launch.report()) {
        printIfPresent(launch.activeAppName());
        printIfPresent(launch.activeDetail());
        printTimings();
        return kSuccess;
    }
    if (launch.errorMessage()) {
        printError(*launch.errorMessage());
        if (misused) {
            return kUsageError;
        }
    } else if (launch.activeDetail()) {
        printError(*launch.activeDetail());  // such as "Sign in once to open this private build"
    }
    return kFailure;
}

int openLink(AppState& state, const Interrupt& interrupt, const std::string& link,
             const LaunchTargets& targets, const OutcomeFormat& format) {
    const QUrl url(QString::fromStdString(link));
    const bool isSignIn = url.host() == QLatin1String("auth");
    // Standard output holds the document alone.
    TerminalProgress progress(state.launch(), format.json ? stderr : stdout);
    try {
        interrupt.await(state.launch().receive(url, targets));
    } catch (const Interrupted&) {
        progress.finish();
        if (!isSignIn) {
            printIfPresent(state.launch().activeDetail());  // "Build canceled"
        }
        throw;
    }
    progress.finish();
    if (isSignIn) {
        if (state.account().isSignedIn() && !state.launch().errorMessage()) {
            printIfPresent(state.launch().activeDetail());
            return kSuccess;
        }
        printError(
            state.launch().errorMessage().value_or(state.launch().activeDetail().value_or("")));
        return kFailure;
    }
    return launchOutcome(state.launch(), targets, format);
}

int runLocal(AppState& state, const Interrupt& interrupt, const Settings& settings,
             const std::string& path, const LaunchTargets& targets, bool noActivate,
             const OutcomeFormat& format) {
    std::error_code ignored;  // a path that cannot be examined is no build either
    const bool isApk = localBuildPlatform(path) == BuildPlatform::android &&
                       std::filesystem::is_regular_file(path, ignored);
    if (!isApk && !std::filesystem::is_directory(path, ignored)) {
        printError(AppInspector::kNotAnAppMessage);
        return kFailure;
    }
    if (isApk && (!targets.options.arguments.empty() || !targets.options.environment.empty())) {
        printError(kIOSOnlyLaunchOptionsMessage);
        return kUsageError;
    }
    TerminalProgress progress(state.launch(), format.json ? stderr : stdout);
    const QString udid = QString::fromStdString(settings.preferredSimulatorUDID());
    const bool activate = !noActivate && settings.activateSimulator();
    interrupt.await(state.launch().runLocalApplication(
        QUrl::fromLocalFile(QString::fromStdString(path)), udid, activate, targets));
    progress.finish();
    return launchOutcome(state.launch(), targets, format);
}

// The options that say where and how a build is launched, shared by open and run. They come
// only from the command line, never from a link.
void addLaunchOptions(CLI::App* command, LaunchTargets& targets, OutcomeFormat& format) {
    command->add_flag("--json", format.json,
                      "Print one JSON document: the outcome, the devices and every step");
    command->add_flag("--timings", format.timings,
                      "After “Running in …”, print how long each part of the launch took");
    command
        ->add_option("--simulator", targets.simulatorUDIDs,
                     "Run on the simulator with this UDID (repeatable; each in turn)")
        ->allow_extra_args(false);
    command
        ->add_option("--emulator", targets.emulatorNames,
                     "Run an Android build on the emulator with this name (repeatable; each in "
                     "turn)")
        ->allow_extra_args(false);
    command
        ->add_option("--open-url", targets.options.openURL,
                     "Once the app runs, open this absolute URL in its simulator or emulator")
        ->check(CLI::Validator(
            [](const std::string& url) {
                return isAbsoluteURL(url) ? std::string()
                                          : std::string(
                                                "needs an absolute URL such as "
                                                "myapp://home");
            },
            "URL"));
    command
        ->add_option("--launch-arg", targets.options.arguments,
                     "An argument for an iOS app (repeatable; write --launch-arg=-flag for a "
                     "dash)")
        ->allow_extra_args(false);
    command
        ->add_option_function<std::vector<std::string>>(
            "--env",
            [&targets](const std::vector<std::string>& assignments) {
                for (const std::string& assignment : assignments) {
                    targets.options.environment.push_back(
                        parseEnvironmentAssignment(assignment).value());
                }
            },
            "KEY=VALUE in an iOS app's environment (repeatable)")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](const std::string& assignment) {
                return parseEnvironmentAssignment(assignment)
                           ? std::string()
                           : std::string("needs KEY=VALUE, KEY of letters, digits and _");
            },
            "KEY=VALUE"));
}

nlohmann::ordered_json optionalDate(const std::optional<Timestamp>& date) {
    return date ? nlohmann::ordered_json(formatInternetDateTime(*date)) : nlohmann::ordered_json();
}

nlohmann::ordered_json buildDocument(const PreviewSummary& build) {
    return {
        {"previewId", build.previewID},
        {"title", build.title()},
        {"displayName", build.displayName},
        {"repository", build.repository},
        {"pullRequest", build.pullRequest},
        {"pullRequestTitle", build.pullRequestTitle
                                 ? nlohmann::ordered_json(*build.pullRequestTitle)
                                 : nlohmann::ordered_json()},
        {"branch", build.branch},
        {"commitSha", build.commitSha},
        {"status", build.status},
        {"minimumOSVersion", build.minimumOSVersion},
        {"platform",
         build.platform ? nlohmann::ordered_json(*build.platform) : nlohmann::ordered_json()},
        {"createdAt", formatInternetDateTime(build.createdAt)},
        {"readyAt", optionalDate(build.readyAt)},
        {"expiresAt", optionalDate(build.expiresAt)},
        {"link", previewLink(build.previewID)},
    };
}

int listBuilds(AppState& state, const Interrupt& interrupt, bool asJson) {
    if (!state.account().isSignedIn()) {
        printError("Not signed in. Run “quaylet sign-in” first.");
        return kFailure;
    }
    interrupt.await(state.buildsList().refreshBuilds());
    if (state.buildsList().buildsError()) {
        printError(*state.buildsList().buildsError());
        return kFailure;
    }
    if (asJson) {
        nlohmann::ordered_json builds = nlohmann::ordered_json::array();
        for (const PreviewSummary& build : state.buildsList().builds()) {
            builds.push_back(buildDocument(build));
        }
        printJson({{"builds", builds}});
        return kSuccess;
    }
    if (state.buildsList().builds().empty()) {
        printLine("No builds yet.");
    }
    for (const PreviewSummary& build : state.buildsList().builds()) {
        const std::string status = statusWord(build).toStdString();
        printLine(build.title());
        const std::optional<std::string> tag = build.platformTag();
        printLine("  " + build.repository + " · PR #" + std::to_string(build.pullRequest) + " · " +
                  build.commitSha.substr(0, 7) + (tag ? " · " + *tag : "") + " · " + status);
        printLine("  " + previewLink(build.previewID));
    }
    return kSuccess;
}

nlohmann::ordered_json androidDocument(const AndroidEnvironment& android) {
    const auto optional = [](const auto& value) {
        return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
    };
    nlohmann::ordered_json emulators = nlohmann::ordered_json::array();
    for (const AndroidEmulator& emulator : android.emulators) {
        emulators.push_back({{"name", emulator.name},
                             {"apiLevel", optional(emulator.apiLevel)},
                             {"abi", optional(emulator.abi)},
                             {"running", emulator.isRunning()},
                             {"serial", optional(emulator.serial)}});
    }
    return {{"sdkFolder", android.sdkFolder},
            {"installed", android.isInstalled},
            {"adbVersion", optional(android.adbVersion)},
            {"emulatorVersion", optional(android.emulatorVersion)},
            {"emulators", emulators},
            {"notice", optional(android.notice)}};
}

// Information only: printed after the iOS verdict, which it never changes.
void printAndroidSection(const AndroidEnvironment& android) {
    const auto row = [](std::string label, const std::string& value) {
        label.resize(std::max<std::size_t>(label.size(), 18), ' ');
        printLine("  " + label + " " + value);
    };
    printLine("Android");
    row("SDK folder", android.sdkFolder);
    if (android.isInstalled) {
        row("adb", android.adbVersion.value_or("Not found"));
        row("Emulator", android.emulatorVersion.value_or("Not found"));
    }
    for (const AndroidEmulator& emulator : android.emulators) {
        row(emulator.name,
            (emulator.apiLevel ? "API " + std::to_string(*emulator.apiLevel) : "API unknown") +
                (emulator.serial ? " · Running as " + *emulator.serial : " · Not running"));
    }
    printIfPresent(android.notice);
}

int doctor(AppState& state, const Interrupt& interrupt, bool asJson) {
    interrupt.await(state.diagnostics().runDiagnostics());
    const auto& environment = state.diagnostics().environment();
    if (!environment) {
        printError(state.launch().errorMessage().value_or(""));
        return kFailure;
    }
    std::size_t available = 0;
    if (environment->inventory) {
        for (const auto& device : environment->inventory->devices) {
            available += device.isAvailable ? 1 : 0;
        }
    }
    const int status = environment->isReady() ? kSuccess : kFailure;
    if (asJson) {
        const auto path = [](const std::optional<std::string>& value) {
            return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
        };
        printJson({
            {"ready", environment->isReady()},
            {"xcodePath", path(environment->xcodePath)},
            {"simctlPath", path(environment->simctlPath)},
            {"architecture", environment->architecture},
            {"simulatorWindow", environment->simulatorWindow},
            {"availableSimulators", available},
            {"failures", environment->failures},
            {"android", androidDocument(environment->android)},
        });
        return status;
    }
    const auto row = [](bool passes, std::string_view name, const std::string& value) {
        std::string label(name);
        label.resize(std::max<std::size_t>(label.size(), 18), ' ');
        printLine(std::string(passes ? "✓ " : "✗ ") + label + " " + value);
    };
    row(environment->xcodePath.has_value(), "Xcode", environment->xcodePath.value_or("Not found"));
    row(environment->simctlPath.has_value(), "Simulator tools",
        environment->simctlPath.value_or("Not found"));
    row(environment->architecture != "unknown", "Mac architecture", environment->architecture);
    row(available > 0, "Simulator devices", std::to_string(available) + " available");
    row(true, "Simulator window", environment->simulatorWindow);
    printLine(environment->failures.empty() ? "This Mac is ready" : "Action required");
    for (const auto& failure : environment->failures) {
        printError(failure);
    }
    printAndroidSection(environment->android);
    return status;
}

int diagnose(AppState& state, const Interrupt& interrupt, std::string file) {
    if (file.empty()) {
        file =
            "quaylet-diagnostics-" +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString() +
            ".zip";
    }
    const std::filesystem::path path = std::filesystem::absolute(file);
    interrupt.await(state.diagnostics().saveDiagnostics(
        QUrl::fromLocalFile(QString::fromStdString(path.string()))));
    if (!state.diagnostics().savedDiagnostics()) {
        printError(state.launch().errorMessage().value_or(""));
        return kFailure;
    }
    printLine("Saved diagnostics to " + *state.diagnostics().savedDiagnostics());
    return kSuccess;
}

int signIn(AppState& state, bool noBrowser) {
    const QUrl url = state.account().beginSignIn();
    if (url.isEmpty()) {
        printError(state.launch().errorMessage().value_or(""));
        return kFailure;
    }
    printLine("Open this page to sign in with GitHub:");
    printLine(url.toString().toStdString());
    if (!noBrowser) {
        const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (!opener.isEmpty()) {
            QProcess::startDetached(opener, {url.toString()});
        }
    }
    return kSuccess;
}

// Sign-out and clearing the cache: the state says what happened, or why not.
int stateAction(AppState& state, const Interrupt& interrupt, const QFuture<void>& action) {
    interrupt.await(action);
    if (state.launch().errorMessage()) {
        printError(*state.launch().errorMessage());
        return kFailure;
    }
    printIfPresent(state.launch().activeDetail());
    return kSuccess;
}

// As the person wrote it: the shortest decimal that reads back the same, never an exponent.
std::string formatGigabytes(const Settings& settings) {
    char text[400];  // any finite double in fixed notation
    const auto end =
        std::to_chars(text, text + sizeof text, settings.cacheLimitGB(), std::chars_format::fixed)
            .ptr;
    return std::string(text, end);
}

int settingsCommand(Settings& settings, const std::string& key,
                    const std::optional<std::string>& value) {
    if (key.empty()) {
        printLine(std::string(Settings::kPreferredSimulatorKey) + " = " +
                  settings.preferredSimulatorUDID());
        printLine(std::string(Settings::kPreferredEmulatorKey) + " = " +
                  settings.preferredEmulator());
        printLine(std::string(Settings::kActivateSimulatorKey) + " = " +
                  (settings.activateSimulator() ? "true" : "false"));
        printLine(std::string(Settings::kBootEarlyKey) + " = " +
                  (settings.startSimulatorWhileDownloading() ? "true" : "false"));
        printLine(std::string(Settings::kCacheLimitKey) + " = " + formatGigabytes(settings));
        printLine(std::string(Settings::kBootTimeoutKey) + " = " +
                  std::to_string(settings.bootTimeout().count()));
        return kSuccess;
    }
    if (key == Settings::kCacheLimitKey) {
        printLine(formatGigabytes(settings));  // a new limit is set through the state
        return kSuccess;
    }
    if (key == Settings::kBootTimeoutKey) {
        if (!value) {
            printLine(std::to_string(settings.bootTimeout().count()));
            return kSuccess;
        }
        int seconds = 0;
        const auto [end, error] =
            std::from_chars(value->data(), value->data() + value->size(), seconds);
        if (error != std::errc() || end != value->data() + value->size()) {
            seconds = 0;  // refused below, with the words that say what is wanted
        }
        try {
            settings.setBootTimeoutSeconds(seconds);
        } catch (const std::invalid_argument& refusal) {
            printError(refusal.what());
            return kUsageError;
        }
        return kSuccess;
    }
    if (key == Settings::kPreferredSimulatorKey) {
        if (value) {
            settings.setPreferredSimulatorUDID(*value);
        } else {
            printLine(settings.preferredSimulatorUDID());
        }
        return kSuccess;
    }
    if (key == Settings::kPreferredEmulatorKey) {
        if (value) {
            settings.setPreferredEmulator(*value);
        } else {
            printLine(settings.preferredEmulator());
        }
        return kSuccess;
    }
    // The key is checked by the parser, so this is one of the two switches.
    const bool activate = key == Settings::kActivateSimulatorKey;
    if (!value) {
        const bool on =
            activate ? settings.activateSimulator() : settings.startSimulatorWhileDownloading();
        printLine(on ? "true" : "false");
    } else if (*value == "true" || *value == "false") {
        if (activate) {
            settings.setActivateSimulator(*value == "true");
        } else {
            settings.setStartSimulatorWhileDownloading(*value == "true");
        }
    } else {
        printError(key + " takes true or false.");
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

    CLI::App cli{"Opens iOS Simulator and Android builds of pull requests from the terminal.",
                 "quaylet"};
    cli.set_version_flag("--version", QUAYLET_VERSION);
    cli.require_subcommand(1);

    // Each command that drives the state, with what runs it; a new command is one more row.
    using Command = std::function<int(AppState&, const Interrupt&)>;
    std::vector<std::pair<CLI::App*, Command>> commands;

    LaunchTargets targets;
    OutcomeFormat format;
    std::string link;
    auto* open =
        cli.add_subcommand("open", "Open a quaylet:// link: a pull-request build or a sign-in");
    open->add_option("url", link, "The link")->required();
    addLaunchOptions(open, targets, format);
    open->add_flag("--no-early-boot", targets.noEarlyBoot,
                   "Start the simulator only once the build is downloaded and unpacked");
    commands.emplace_back(open, [&](AppState& state, const Interrupt& interrupt) {
        return openLink(state, interrupt, link, targets, format);
    });

    std::string appPath;
    bool noActivate = false;
    Settings settings(Settings::defaultFile());
    auto* run = cli.add_subcommand("run", "Run an iOS Simulator or Android build from disk");
    run->add_option("app", appPath, "The .app folder or the .apk")->required();
    addLaunchOptions(run, targets, format);
    run->add_flag("--no-activate", noActivate, "Leave Simulator in the background");
    commands.emplace_back(run, [&](AppState& state, const Interrupt& interrupt) {
        return runLocal(state, interrupt, settings, appPath, targets, noActivate, format);
    });

    bool buildsAsJson = false;
    auto* builds = cli.add_subcommand("builds", "List your recent pull-request builds");
    builds->add_flag("--json", buildsAsJson, "Print one JSON document");
    commands.emplace_back(builds, [&](AppState& state, const Interrupt& interrupt) {
        return listBuilds(state, interrupt, buildsAsJson);
    });

    bool doctorAsJson = false;
    auto* doctorCommand = cli.add_subcommand("doctor", "Check this machine's tools");
    doctorCommand->add_flag("--json", doctorAsJson, "Print one JSON document");
    commands.emplace_back(doctorCommand, [&](AppState& state, const Interrupt& interrupt) {
        return doctor(state, interrupt, doctorAsJson);
    });

    std::string diagnosticsFile;
    auto* diagnoseCommand = cli.add_subcommand(
        "diagnose",
        "Save a diagnostics bundle (.zip), the token, queries and home folder taken out");
    diagnoseCommand->add_option("-o,--output", diagnosticsFile,
                                "The .zip to write (default: quaylet-diagnostics-<time>.zip here)");
    commands.emplace_back(diagnoseCommand, [&](AppState& state, const Interrupt& interrupt) {
        return diagnose(state, interrupt, diagnosticsFile);
    });

    bool noBrowser = false;
    auto* signInCommand = cli.add_subcommand("sign-in", "Sign in with GitHub");
    signInCommand->add_flag("--no-browser", noBrowser, "Print the sign-in page without opening it");
    commands.emplace_back(
        signInCommand, [&](AppState& state, const Interrupt&) { return signIn(state, noBrowser); });

    commands.emplace_back(cli.add_subcommand("sign-out", "Sign out and forget the stored token"),
                          [](AppState& state, const Interrupt& interrupt) {
                              return stateAction(state, interrupt, state.account().signOut());
                          });
    commands.emplace_back(cli.add_subcommand("clear-cache", "Remove downloaded builds"),
                          [](AppState& state, const Interrupt& interrupt) {
                              return stateAction(state, interrupt,
                                                 state.cache().clearDownloadCache());
                          });
    auto* cacheSubcommand =
        cli.add_subcommand("cache", "List downloaded builds and their sizes on disk");
    auto* pruneCommand = cacheSubcommand->add_subcommand(
        "prune", "Remove the least recently launched builds until the cache fits cacheLimitGB");
    commands.emplace_back(
        cacheSubcommand, [pruneCommand](AppState& state, const Interrupt& interrupt) {
            return cacheCommand(state.cache(), state.launch(), pruneCommand->parsed(), interrupt);
        });

    // The watch keeps a watcher of its own over the state's services.
    std::optional<AppState::Collaborators> collaborators;
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
    commands.emplace_back(watchCommand, [&](AppState& state, const Interrupt& interrupt) {
        return watchPullRequest(state, *collaborators, watchOptions, interrupt,
                                [](const Launch& opened) { return launchOutcome(opened, {}); });
    });

    std::string key;
    std::optional<std::string> value;
    auto* settingsSubcommand = cli.add_subcommand(
        "settings",
        "Show or change a setting (preferredSimulatorUDID, "
        "preferredEmulator, activateSimulator, startSimulatorWhileDownloading, cacheLimitGB, "
        "bootTimeoutSeconds)");
    settingsSubcommand->add_option("key", key, "The setting")
        ->check(CLI::IsMember({Settings::kPreferredSimulatorKey, Settings::kPreferredEmulatorKey,
                               Settings::kActivateSimulatorKey, Settings::kBootEarlyKey,
                               Settings::kCacheLimitKey, Settings::kBootTimeoutKey}));
    settingsSubcommand->add_option("value", value, "Its new value");
    // A new cache limit goes through the state, which applies a lower one at once.
    commands.emplace_back(settingsSubcommand, [&](AppState& state, const Interrupt& interrupt) {
        return setCacheLimit(state.cache(), state.launch(), value.value_or(""), interrupt);
    });

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = cli.exit(error);
        return status == kSuccess ? kSuccess : kUsageError;
    }

    try {
        // Taken before any command runs, so that Ctrl-C cannot cut a settings write short.
        const Interrupt interrupt;
        if (settingsSubcommand->parsed() && !(key == Settings::kCacheLimitKey && value)) {
            try {
                return settingsCommand(settings, key, value);
            } catch (const std::filesystem::filesystem_error&) {
                printError(Settings::kCannotSaveMessage);
                return kFailure;
            }
        }
        const QUrl baseURL = serviceBaseURL();
        collaborators = AppState::Collaborators::forThisHost(baseURL, interrupt.token());
        AppState state(baseURL, *collaborators);
        QObject::connect(&interrupt, &Interrupt::received, &state.launch(), &Launch::cancelLaunch);
        for (const auto& [subcommand, command] : commands) {
            if (subcommand->parsed()) {
                return command(state, interrupt);
            }
        }
        return kUsageError;
    } catch (const Interrupted&) {
        return kInterrupted;
    } catch (const std::exception&) {
        printError(userMessage(std::current_exception()).value_or(""));
        return kFailure;
    }
}
