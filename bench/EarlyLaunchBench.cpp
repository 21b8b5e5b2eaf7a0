// What a launch gains by acting on the manifest's claims before the download ends, each row
// against the same launch in the old order, timed in the same iterations (medianRatio; the
// targets are in BenchMain.cpp):
//   click to running:  time_ratio = with the early boot / with it turned off, for a 5 s
//                      simulated cold boot and a download the service throttles to about 5 s
//   refusal:           time_ratio = refused by the manifest's claim / refused after the full
//                      download, unpack and inspection of the same 1 GiB build, whose manifest
//                      claims a minimum OS that cannot be read (so only the check on the
//                      unpacked app can refuse it)
// The stand-in simulator runs on a device set of the run's own, made afresh (every device shut
// down) before each launch; the builds are served by quaylet-devservice on loopback.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "BenchSupport.h"
#include "PairedTimes.h"
#include "core/artifacts/ArtifactSecurity.h"
#include "core/errors/UserMessage.h"
#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"
#include "core/service/RemotePreviewLauncher.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"
#include "support/DevServiceProcess.h"
#include "support/ScopedEnvironment.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using quaylet::bench::Clock;
using quaylet::bench::scratchFolder;
using quaylet::bench::secondsSince;

constexpr const char* kToken = "bench-token";
constexpr int kColdBootMilliseconds = 5000;
constexpr double kDownloadSeconds = 5;
constexpr std::uintmax_t kClickArchiveSize = 32ULL << 20;
constexpr std::uint64_t kRefusedBuildSize = 1ULL << 30;

// A ready manifest for the archive, claiming minimumOSVersion; every architecture a host's
// simulators run, so that only the minimum OS can refuse it.
void publish(const fs::path& archive, const std::string& previewID,
             const std::string& minimumOSVersion) {
    const quaylet::ArtifactSecurity security(quaylet::ProcessRunner(),
                                             quaylet::DeveloperTools::forThisHost());
    const json manifest = {
        {"schemaVersion", 1},
        {"previewId", previewID},
        {"repository", "acme/app"},
        {"pullRequest", 1},
        {"commitSha", "0123456789abcdef0123456789abcdef01234567"},
        {"branch", "bench"},
        {"scheme", "App"},
        {"configuration", "Debug"},
        {"status", "ready"},
        {"bundleId", "com.example.Demo"},
        {"displayName", "Demo"},
        {"minimumOSVersion", minimumOSVersion},
        {"platform", "iphonesimulator"},
        {"architectures", {"arm64", "x86_64"}},
        {"xcodeVersion", "16.0"},
        {"artifactSize", fs::file_size(archive)},
        {"sha256", security.sha256(archive, {})},
        {"createdAt", "2026-12-01T10:00:00Z"},
    };
    std::ofstream(archive.parent_path() / "manifest.json") << manifest.dump(2) << '\n';
}

// The bundle's files, stored, then one stored file of `zeros` zero bytes left as a hole in the
// archive: a build of that size that takes no room in the scratch folder nor time to write.
void writeSparseArchive(const fs::path& file, const quaylet::fixtures::AppBundleBuilder& bundle,
                        std::uint32_t zeros) {
    using quaylet::fixtures::put16;
    using quaylet::fixtures::put32;
    std::string entries;
    std::string directory;
    std::uint32_t count = 0;
    const auto add = [&](const std::string& name, std::uint32_t mode, const std::string& data,
                         std::uint32_t size, std::uint32_t crc) {
        // What the local and the central header share, from the flags to the extra's length.
        std::string shared;
        put16(shared, 0);  // flags
        put16(shared, 0);  // stored
        put32(shared, 0);  // time and date
        put32(shared, crc);
        put32(shared, size);
        put32(shared, size);
        put16(shared, static_cast<std::uint32_t>(name.size()));
        put16(shared, 0);
        put32(directory, 0x02014b50);
        put16(directory, (3U << 8) | 20);  // made on Unix, so the mode bits count
        put16(directory, 20);
        directory += shared;
        directory.append(6, '\0');  // no comment, disk 0, no internal attributes
        put32(directory, mode << 16);
        put32(directory, static_cast<std::uint32_t>(entries.size()));
        directory += name;
        put32(entries, 0x04034b50);
        put16(entries, 20);
        entries += shared + name + data;
        ++count;
    };
    for (const quaylet::fixtures::BundleFile& bundled : bundle.files()) {
        add(bundled.path, 0100000 | bundled.permissions, bundled.contents,
            static_cast<std::uint32_t>(bundled.contents.size()),
            static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(bundled.contents.data()),
                      static_cast<uInt>(bundled.contents.size()))));
    }
    const std::string block(1 << 20, '\0');
    uLong crc = crc32(0, nullptr, 0);
    for (std::uint32_t done = 0; done < zeros; done += static_cast<std::uint32_t>(block.size())) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()),
                    static_cast<uInt>(std::min<std::uint32_t>(zeros - done, block.size())));
    }
    add("Demo.app/Payload.bin", 0100644, "", zeros, static_cast<std::uint32_t>(crc));

    std::string end;
    put32(end, 0x06054b50);
    put32(end, 0);  // disk numbers
    put16(end, count);
    put16(end, count);
    put32(end, static_cast<std::uint32_t>(directory.size()));
    put32(end, static_cast<std::uint32_t>(entries.size() + zeros));
    put16(end, 0);
    std::ofstream out(file, std::ios::binary);
    out << entries;
    out.seekp(static_cast<std::streamoff>(entries.size() + zeros));
    out << directory << end;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

// The stand-in simulator's device set, seeded afresh with every device shut down, whose boots
// take bootMilliseconds.
void freshDeviceSet(const fs::path& home, int bootMilliseconds) {
    fs::remove_all(home);
    quaylet::ProcessRunner().runChecked(quaylet::DeveloperTools::forThisHost().listSimulators(),
                                        {});
    const fs::path file = home / "devices.json";
    json set = json::parse(std::ifstream(file));
    set["bootMilliseconds"] = bootMilliseconds;
    std::ofstream(file) << set.dump(2);
}

// One service with its builds and a cache, on a device set of the row's own.
struct Road {
    fs::path builds;
    fs::path simulatorHome = builds.parent_path() / "simulator";
    quaylet::testing::ScopedEnvironment simulatorEnvironment{"QUAYLET_SIMULATOR_HOME",
                                                             simulatorHome.string()};
    std::optional<quaylet::testing::DevServiceProcess> service;
    std::optional<quaylet::RemotePreviewLauncher> launcher;

    explicit Road(const std::string& name) : builds(scratchFolder() / name / "builds") {
        fs::create_directories(builds);
    }
    void serve(const std::vector<std::string>& arguments) {
        std::vector<std::string> all{"--token", kToken};
        all.insert(all.end(), arguments.begin(), arguments.end());
        service.emplace(builds, all);
        launcher.emplace(service->baseURL(), builds.parent_path() / "cache");
        launcher->startNetwork();
    }
    // From calling launch() until it reports `running`, or throws; the device set and the
    // cache made afresh first, untimed.
    double launch(const quaylet::RemoteLaunchRequest& request, int bootMilliseconds,
                  std::optional<std::string>& refusal) const {
        launcher->clearCache({});
        freshDeviceSet(simulatorHome, bootMilliseconds);
        const auto start = Clock::now();
        double running = 0;
        try {
            launcher->launch(request, {},
                             [&](quaylet::RemoteLaunchStage stage) {
                                 if (stage == quaylet::RemoteLaunchStage::running) {
                                     running = secondsSince(start);
                                 }
                             },
                             {});
        } catch (...) {
            running = secondsSince(start);
            refusal = quaylet::userMessage(std::current_exception());
        }
        return running;
    }
};

void BM_ClickToRunningAgainstEarlyBootOff(benchmark::State& state) {
    Road road("click-to-running");
    const fs::path archive = road.builds / "pr-click" / "artifact.zip";
    fs::create_directories(archive.parent_path());
    quaylet::fixtures::ZipBuilder()
        .addBundle(quaylet::fixtures::AppBundleBuilder().elfExecutableForHost(), "")
        .add({.name = "Demo.app/Payload.bin",
              .data = std::string(kClickArchiveSize, 'x'),
              .method = quaylet::fixtures::ZipMethod::stored})
        .writeTo(archive);
    publish(archive, "pr-click", "17.0");
    road.serve(
        {"--artifact-rate", std::to_string(static_cast<std::uint64_t>(
                                static_cast<double>(fs::file_size(archive)) / kDownloadSeconds))});

    quaylet::bench::timeAgainstBaseline(
        state, "early_boot_off_seconds", [&]() -> std::optional<quaylet::bench::PairedTimes> {
            std::optional<std::string> failure;
            const double off = road.launch({.previewID = "pr-click", .token = kToken},
                                           kColdBootMilliseconds, failure);
            const double ours =
                road.launch({.previewID = "pr-click", .token = kToken, .bootEarly = true},
                            kColdBootMilliseconds, failure);
            if (failure) {
                state.SkipWithError(("a launch failed: " + *failure).c_str());
                return std::nullopt;
            }
            return quaylet::bench::PairedTimes{ours, off};
        });
}
BENCHMARK(BM_ClickToRunningAgainstEarlyBootOff)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_RefusalOfANewerOSBuildAgainstAfterDownload(benchmark::State& state) {
    Road road("refusal");
    // One sparse archive for both builds, its app needing an OS newer than every runtime.
    const fs::path archive = road.builds / "pr-newer-os" / "artifact.zip";
    fs::create_directories(archive.parent_path());
    writeSparseArchive(
        archive,
        quaylet::fixtures::AppBundleBuilder().elfExecutableForHost().minimumOSVersion("99.0"),
        kRefusedBuildSize);
    const fs::path unread = road.builds / "pr-unread-claim" / "artifact.zip";
    fs::create_directories(unread.parent_path());
    fs::create_hard_link(archive, unread);
    publish(archive, "pr-newer-os", "99.0");
    publish(unread, "pr-unread-claim", "newest");
    road.serve({});

    quaylet::bench::timeAgainstBaseline(
        state, "after_download_seconds", [&]() -> std::optional<quaylet::bench::PairedTimes> {
            std::optional<std::string> ourRefusal;
            std::optional<std::string> laterRefusal;
            ::sync();  // neither side pays for the other's writes
            const double after =
                road.launch({.previewID = "pr-unread-claim", .token = kToken}, 0, laterRefusal);
            ::sync();
            const double ours =
                road.launch({.previewID = "pr-newer-os", .token = kToken}, 0, ourRefusal);
            if (!ourRefusal || ourRefusal != laterRefusal) {
                state.SkipWithError(("not the same refusal: " + ourRefusal.value_or("none") +
                                     " / " + laterRefusal.value_or("none"))
                                        .c_str());
                return std::nullopt;
            }
            return quaylet::bench::PairedTimes{ours, after};
        });
}
BENCHMARK(BM_RefusalOfANewerOSBuildAgainstAfterDownload)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
