// quaylet-devservice: a loopback stand-in for the preview service, for the demo and the
// integration tests.
#include <CLI/CLI.hpp>
#include <csignal>
#include <iostream>
#include <thread>

#include "DemoBuild.h"
#include "PreviewService.h"

namespace {

constexpr const char* kDescription =
    "A stand-in for the Quaylet preview service, for the demo and the integration tests only.\n"
    "It listens on 127.0.0.1, serves the builds found in a folder (one subfolder per build,\n"
    "holding manifest.json and artifact.zip or artifact.apk), keeps tokens and launch events in "
    "memory and\n"
    "forgets them when it stops. It is not a production service.\n"
    "The first line on standard output is \"Listening on http://127.0.0.1:PORT\".\n"
    "For fault-injection tests, POST /dev/faults {\"route\":\n"
    "manifest|download|artifact|list|logout,\n"
    "\"fault\": status|stall|drop|expire, \"status\": N, \"at\": 0.4, \"times\": N} makes\n"
    "that route misbehave (for N requests) until DELETE /dev/faults; GET /dev/faults/stalled\n"
    "waits until a request is held; GET /dev/artifact-ranges lists the Range header of each\n"
    "archive request since the faults were cleared.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app(kDescription, "quaylet-devservice");
    quaylet::devservice::PreviewServiceOptions options;
    int port = 0;
    bool openToAll = false;
    std::string fixedToken;
    app.add_option("--builds", options.buildsFolder, "Folder holding one subfolder per build")
        ->check(CLI::ExistingDirectory);
    app.add_option("--port", port, "Port on 127.0.0.1; 0 (the default) lets the system choose")
        ->check(CLI::Range(0, 65535));
    app.add_flag("--no-sign-in", openToAll, "Serve every request without a bearer token");
    app.add_option("--token", fixedToken,
                   "An API token accepted from the start, so tests need not sign in");
    app.add_option("--artifact-rate", options.artifactBytesPerSecond,
                   "Send archives at most this many bytes a second, as over a slower link; 0 "
                   "(the default) as fast as loopback goes");
    std::filesystem::path demoFolder;
    std::string demoPreviewID = "pr-demo";
    CLI::App* makeDemo = app.add_subcommand(
        "make-demo-build",
        "Write a demo build (a zipped app bundle for the stand-in simulator tools, with its "
        "manifest and digest) into <folder>/<preview id>/, ready to serve with --builds <folder>");
    makeDemo->add_option("folder", demoFolder, "Folder of builds")->required();
    makeDemo->add_option("--preview-id", demoPreviewID, "The build's preview identifier")
        ->capture_default_str();
    bool android = false;
    makeDemo->add_flag("--android", android,
                       "An Android build instead: an .apk for the stand-in emulator tools");
    app.require_subcommand(0, 1);
    CLI11_PARSE(app, argc, argv);

    if (makeDemo->parsed()) {
        try {
            const auto folder =
                android ? quaylet::devservice::makeAndroidDemoBuild(demoFolder, demoPreviewID)
                        : quaylet::devservice::makeDemoBuild(demoFolder, demoPreviewID);
            std::cout << "Made demo build " << demoPreviewID << " in " << folder.string() << '\n';
            return 0;
        } catch (const std::exception& error) {
            std::cerr << "quaylet-devservice: " << error.what() << '\n';
            return 1;
        }
    }
    if (options.buildsFolder.empty()) {
        std::cerr << "quaylet-devservice: --builds is required to serve builds\n";
        return 2;
    }
    options.requireSignIn = !openToAll;
    if (!fixedToken.empty()) {
        options.fixedToken = fixedToken;
    }

    // SIGINT and SIGTERM are taken by a thread of their own, which stops the server cleanly;
    // blocked here, before the server starts its threads, so that they inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    quaylet::devservice::PreviewService service(std::move(options));
    try {
        const int boundPort = service.bind(port);
        std::cout << "Listening on http://127.0.0.1:" << boundPort << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "quaylet-devservice: " << error.what() << '\n';
        return 1;
    }
    std::thread stopper([&service, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        service.stop();
    });
    service.serve();
    // Wakes the stopper in case the server ended on its own.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 0;
}
