// Build-archive handling against the plain system tools doing the same job on the same files.
// Each row times ours (the reported time) and the tool in the same iterations, and reports
// the ratio as a counter (the targets are in BenchMain.cpp):
//   sha256:         throughput_ratio = ours / openssl dgst throughput
//   extractSecurely: time_ratio      = ours / bsdtar -x time, the median of the iterations'
//                                      (medianRatio)
// extractSecurely uses the archive tools of DeveloperTools::forThisHost() (QUAYLET_HOST_TOOLS_DIR
// may point elsewhere). Before each of its timed parts the page cache is flushed to disk, so
// neither side pays for the other's writes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "PairedTimes.h"
#include "core/artifacts/ArtifactSecurity.h"
#include "core/process/DeveloperTools.h"
#include "core/process/ProcessRunner.h"

namespace {

namespace fs = std::filesystem;
using quaylet::bench::Clock;
using quaylet::bench::scratchFolder;
using quaylet::bench::secondsSince;

constexpr std::uintmax_t kDigestFileSize = 1ULL << 30;
constexpr int kBuildFileCount = 4000;
constexpr std::size_t kBuildFileSize = 50 * 1000;  // 4,000 files of 50 kB: a 200 MB build

const fs::path& digestInput() {
    static const fs::path file = [] {
        const fs::path path = scratchFolder() / "gigabyte";
        quaylet::bench::writeRandomFile(path, kDigestFileSize, 1);
        return path;
    }();
    return file;
}

// Text-like contents compress about as well as a real build's code and resources.
const fs::path& buildArchive() {
    static const fs::path archive = [] {
        const fs::path source = scratchFolder() / "source";
        const fs::path app = source / "Payload" / "Bench.app";
        std::mt19937 random(2);
        const std::vector<std::string> words{"let ", "view", "frame", "0x1f",  "return ",
                                             "\n",   "{",    "}",     "self.", "image"};
        for (int index = 0; index < kBuildFileCount; ++index) {
            const fs::path file =
                app / ("Folder" + std::to_string(index % 40)) / ("file" + std::to_string(index));
            fs::create_directories(file.parent_path());
            std::string contents;
            while (contents.size() < kBuildFileSize) {
                contents +=
                    (random() % 4 == 0) ? std::to_string(random()) : words[random() % words.size()];
            }
            contents.resize(kBuildFileSize);
            std::ofstream(file, std::ios::binary) << contents;
        }
        std::ofstream(app / "Info.plist") << "<plist><dict/></plist>";
        const fs::path path = scratchFolder() / "build.zip";
        quaylet::ProcessRunner().runChecked(
            {"/usr/bin/bsdtar",
             {"-c", "--format", "zip", "-f", path.string(), "-C", source.string(), "Payload"}},
            {});
        fs::remove_all(source);
        return path;
    }();
    return archive;
}

void BM_Sha256AgainstOpensslDgst(benchmark::State& state) {
    const fs::path& file = digestInput();
    const quaylet::ArtifactSecurity security(quaylet::ProcessRunner(),
                                             quaylet::DeveloperTools::forThisHost());
    const quaylet::ProcessRunner runner;
    benchmark::DoNotOptimize(security.sha256(file, {}));  // into the page cache for both
    double ours = 0;
    double tool = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(security.sha256(file, {}));
        const double oursThisTime = secondsSince(start);
        start = Clock::now();
        runner.runChecked({"/usr/bin/openssl", {"dgst", "-sha256", file.string()}}, {});
        tool += secondsSince(start);
        ours += oursThisTime;
        state.SetIterationTime(oursThisTime);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kDigestFileSize));
    state.counters["openssl_seconds"] = tool / static_cast<double>(state.iterations());
    state.counters["throughput_ratio"] = tool / ours;
}
BENCHMARK(BM_Sha256AgainstOpensslDgst)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_ExtractSecurelyAgainstBsdtar(benchmark::State& state) {
    const fs::path& archive = buildArchive();
    const quaylet::ArtifactSecurity security(quaylet::ProcessRunner(),
                                             quaylet::DeveloperTools::forThisHost());
    const quaylet::ProcessRunner runner;
    const fs::path ours = scratchFolder() / "ours";
    const fs::path theirs = scratchFolder() / "theirs";
    quaylet::bench::timeAgainstBaseline(
        state, "bsdtar_seconds", [&]() -> std::optional<quaylet::bench::PairedTimes> {
            // Both sides start from an empty destination: deleting the previous iteration's
            // unpacking is not part of unpacking.
            fs::remove_all(theirs);
            fs::create_directories(theirs);
            fs::remove_all(ours);
            ::sync();
            auto start = Clock::now();
            runner.runChecked(
                {"/usr/bin/bsdtar", {"-x", "-f", archive.string(), "-C", theirs.string()}}, {});
            const double tool = secondsSince(start);

            ::sync();
            start = Clock::now();
            try {
                benchmark::DoNotOptimize(security.extractSecurely(archive, ours, {}));
            } catch (const std::exception& error) {
                state.SkipWithError(error.what());
                return std::nullopt;
            }
            return quaylet::bench::PairedTimes{secondsSince(start), tool};
        });
}
BENCHMARK(BM_ExtractSecurelyAgainstBsdtar)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
