// A remote launch of a 1 GiB build against the plain tools doing the same work on the same
// bytes. Each launch is timed from calling launch() until it reports `selecting`, the point
// where only the simulator's part is left (see LaunchUntilSelecting.h). Ours is the reported
// time; each row also times the tools in the same iterations and reports the median of the
// iterations' ratios (medianRatio; the targets are in BenchMain.cpp):
//   first launch (empty cache):  time_ratio = ours / (curl -o + openssl dgst -sha256 + bsdtar -x)
//   cached relaunch:             time_ratio = ours / (openssl dgst -sha256 + bsdtar -x)
//   peak memory of a first launch, in a child process that does only the launch: peak_mib
// The build is an app bundle plus 1 GiB of incompressible resources, zipped by bsdtar (the
// fixture ZipBuilder holds a whole archive in memory), served by quaylet-devservice on
// loopback; it lives in the run's scratch folder under TMPDIR. Before each timed part the
// page cache is flushed to disk, so neither side pays for the other's writes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stop_token>
#include <string>

#include "BenchSupport.h"
#include "LaunchUntilSelecting.h"
#include "PairedTimes.h"
#include "core/artifacts/ArtifactSecurity.h"
#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/service/HTTPSession.h"
#include "core/service/PreviewAPIClient.h"
#include "core/service/RemotePreviewLauncher.h"
#include "fixtures/AppBundleBuilder.h"
#include "support/DevServiceProcess.h"

namespace {

namespace fs = std::filesystem;
using quaylet::bench::Clock;
using quaylet::bench::scratchFolder;
using quaylet::bench::secondsSince;

constexpr const char* kPreviewID = "pr-gigabyte";
constexpr const char* kToken = "bench-token";
constexpr const char* kBundleIdentifier = "com.example.Demo";
// 64 resources of 16 MiB: 1 GiB, in files of a size real asset catalogues and media reach.
constexpr int kResourceCount = 64;
constexpr std::uintmax_t kResourceSize = 16ULL << 20;

// The build folder quaylet-devservice serves: <builds>/<id>/manifest.json + artifact.zip.
fs::path writeServedBuild(const fs::path& builds) {
    const fs::path folder = builds / kPreviewID;
    const fs::path source = scratchFolder() / "bundle";
    fs::create_directories(folder);
    // An executable for this machine, which the stand-in simulator can run.
    const fs::path app = quaylet::fixtures::AppBundleBuilder("Gigabyte.app")
                             .elfExecutableForHost()
                             .bundleIdentifier(kBundleIdentifier)
                             .writeInto(source);
    fs::create_directories(app / "Resources");
    for (int index = 0; index < kResourceCount; ++index) {
        quaylet::bench::writeRandomFile(app / "Resources" / ("asset-" + std::to_string(index)),
                                        kResourceSize, static_cast<std::uint64_t>(index));
    }
    const fs::path archive = folder / "artifact.zip";
    quaylet::ProcessRunner().runChecked(
        {"/usr/bin/bsdtar",
         {"-c", "--format", "zip", "-f", archive.string(), "-C", source.string(), "Gigabyte.app"}},
        {});
    fs::remove_all(source);

    const quaylet::ArtifactSecurity security(quaylet::ProcessRunner(),
                                             quaylet::DeveloperTools::forThisHost());
    const nlohmann::json manifest = {
        {"schemaVersion", 1},
        {"previewId", kPreviewID},
        {"repository", "acme/app"},
        {"pullRequest", 1},
        {"commitSha", "0123456789abcdef0123456789abcdef01234567"},
        {"branch", "bench"},
        {"scheme", "App"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", kBundleIdentifier},
        {"displayName", "Gigabyte"},
        {"minimumOSVersion", "17.0"},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64", "x86_64"}},
        {"xcodeVersion", "16.0"},
        {"artifactSize", fs::file_size(archive)},
        {"sha256", security.sha256(archive, {})},
        {"createdAt", "2026-12-01T10:00:00Z"},
    };
    std::ofstream(folder / "manifest.json") << manifest.dump(2) << '\n';
    return folder;
}

// The served build and its service, made on first use and kept for the whole run.
struct ServedBuild {
    fs::path folder = writeServedBuild(scratchFolder() / "builds");
    quaylet::testing::DevServiceProcess service{folder.parent_path(), {"--token", kToken}};
    fs::path cacheRoot = scratchFolder() / "cache";
    quaylet::RemotePreviewLauncher launcher{service.baseURL(), cacheRoot};

    ServedBuild() { launcher.startNetwork(); }

    quaylet::RemoteLaunchRequest request() const {
        return {.previewID = kPreviewID, .token = kToken};
    }
    std::string digest() const {
        std::ifstream file(folder / "manifest.json");
        return nlohmann::json::parse(file).at("sha256").get<std::string>();
    }
    // Where the launcher keeps the build's archive: cache root / id / digest / artifact.zip.
    fs::path cachedArchive() const { return cacheRoot / kPreviewID / digest() / "artifact.zip"; }
};

const ServedBuild& servedBuild() {
    static const ServedBuild build;
    return build;
}

// A fresh, empty folder for one run of a tool, its former contents removed untimed.
fs::path freshFolder(const std::string& name) {
    const fs::path folder = scratchFolder() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

double timeCommand(const quaylet::ToolCommand& command) {
    const auto start = Clock::now();
    quaylet::ProcessRunner().runChecked(command, {});
    return secondsSince(start);
}

double digestAndExtractWithTools(const fs::path& archive) {
    const fs::path destination = freshFolder("tools-extracted");
    ::sync();
    return timeCommand({"/usr/bin/openssl", {"dgst", "-sha256", archive.string()}}) +
           timeCommand(
               {"/usr/bin/bsdtar", {"-x", "-f", archive.string(), "-C", destination.string()}});
}

double timeLaunch(const ServedBuild& build) {
    ::sync();
    return quaylet::bench::launchUntilSelecting(build.launcher, build.request());
}

void BM_FirstRemoteLaunchAgainstCurlOpensslBsdtar(benchmark::State& state) {
    const ServedBuild& build = servedBuild();
    const quaylet::PreviewAPIClient client(build.service.baseURL(), quaylet::HTTPSession::shared());
    client.startNetwork();
    quaylet::bench::timeAgainstBaseline(state, "tools_seconds", [&] {
        build.launcher.clearCache({});
        const double ours = timeLaunch(build);

        const fs::path download = freshFolder("tools-download") / "artifact.zip";
        const std::string url = client.artifactURL(kPreviewID, kToken, {}).url;
        ::sync();
        const double tools =
            timeCommand({"/usr/bin/curl",
                         {"--fail", "--silent", "--show-error", "-o", download.string(), url}}) +
            digestAndExtractWithTools(download);
        return std::optional(quaylet::bench::PairedTimes{ours, tools});
    });
}
BENCHMARK(BM_FirstRemoteLaunchAgainstCurlOpensslBsdtar)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_CachedRemoteLaunchAgainstOpensslBsdtar(benchmark::State& state) {
    const ServedBuild& build = servedBuild();
    build.launcher.clearCache({});
    quaylet::bench::launchUntilSelecting(build.launcher, build.request());
    const fs::path archive = build.cachedArchive();
    quaylet::bench::timeAgainstBaseline(state, "tools_seconds", [&] {
        const double ours = timeLaunch(build);
        return std::optional(quaylet::bench::PairedTimes{ours, digestAndExtractWithTools(archive)});
    });
}
BENCHMARK(BM_CachedRemoteLaunchAgainstOpensslBsdtar)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_FirstRemoteLaunchPeakMemory(benchmark::State& state) {
    const ServedBuild& build = servedBuild();
    for (auto _ : state) {
        build.launcher.clearCache({});
        ::sync();
        const quaylet::ProcessResult result = quaylet::ProcessRunner().runChecked(
            {QUAYLET_REMOTE_LAUNCH_PROBE,
             {build.service.baseURL(), kToken, kPreviewID, build.cacheRoot.string()}},
            {});
        std::istringstream output(result.standardOutput);
        std::string key;
        double seconds = 0;
        double peakKiB = 0;
        output >> key >> seconds >> key >> peakKiB;
        if (!output) {
            state.SkipWithError(("unexpected probe output: " + result.standardOutput).c_str());
            return;
        }
        state.SetIterationTime(seconds);
        state.counters["peak_mib"] = peakKiB / 1024;
    }
}
BENCHMARK(BM_FirstRemoteLaunchPeakMemory)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
