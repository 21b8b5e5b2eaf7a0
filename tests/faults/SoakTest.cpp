// Many launches in a row, cached and local, some cancelled, must not leak descriptors,
// threads or memory.
#include <filesystem>
#include <fstream>
#include <string>

#include "LaunchRoad.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; GCC ships no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kWarmUpLaunches = 6;
constexpr int kSoakLaunches = 200;
// Every fifth launch is cancelled, remote and local in turn, at a stage that moves along the
// road each time.
constexpr int kCancelEvery = 5;
// Slack for what the allocator and the libraries keep for reuse, not for growth per launch.
constexpr long kDescriptorSlack = 2;
constexpr long kThreadSlack = 2;
constexpr long kMemorySlackBytes = 24L * 1024 * 1024;

long entriesIn(const fs::path& folder) {
    return static_cast<long>(std::distance(fs::directory_iterator(folder), {}));
}

// Memory the program holds. Under the address sanitizer freed blocks stay in its quarantine
// and in the resident size, so the live heap is what shows a leak there.
long memoryInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6)) * 1024;
        }
    }
    return 0;
#endif
}

struct Usage {
    long descriptors = entriesIn("/proc/self/fd");
    long threads = entriesIn("/proc/self/task");
    long memory = memoryInUse();
};

class SoakTest : public LaunchRoadTest {
  protected:
    // Launch number `index`: cached remote launches alternate with local ones.
    void launchNumber(int index, bool mayCancel) {
        const bool remote = index % 2 == 0;
        const bool cancel = mayCancel && index % kCancelEvery == kCancelEvery - 1;
        const Stages& road = remote ? kCachedRoad : kLocalRoad;
        const RemoteLaunchStage cancelAt = road[static_cast<std::size_t>(index / kCancelEvery) %
                                                (road.size() - 1)];  // never at running
        std::stop_source user;
        const auto onStage = [&](RemoteLaunchStage stage) {
            if (cancel && stage == cancelAt) {
                user.request_stop();
            }
        };
        std::exception_ptr error;
        try {
            if (remote) {
                error = launch(DeveloperTools::forThisHost(), user.get_token(), onStage).error;
            } else {
                localLauncher.selfTest({.appURL = localApp}, onStage, user.get_token());
            }
        } catch (...) {
            error = std::current_exception();
        }
        // A failure has a message; a cancellation has none.
        ASSERT_EQ(userMessage(error), std::nullopt) << "launch " << index;
        ASSERT_EQ(isCancellation(error), cancel) << "launch " << index;
    }

    const Stages kCachedRoad = {RemoteLaunchStage::fetching,   RemoteLaunchStage::verifying,
                                RemoteLaunchStage::extracting, RemoteLaunchStage::selecting,
                                RemoteLaunchStage::installing, RemoteLaunchStage::launching,
                                RemoteLaunchStage::running};
    const Stages kLocalRoad = {RemoteLaunchStage::selecting, RemoteLaunchStage::installing,
                               RemoteLaunchStage::launching, RemoteLaunchStage::running};
    const fs::path localApp = app.writeInto(scratch.path() / "local");
    const SimulatorLauncher localLauncher{
        ProcessRunner(),
        DeveloperTools::forThisHost(),
        SimulatorDiscovery(ProcessRunner(), DeveloperTools::forThisHost()),
        SimulatorSelector(),
        AppInspector(ProcessRunner(), DeveloperTools::forThisHost()),
        std::chrono::milliseconds(0)};
};

TEST_F(SoakTest, TwoHundredLaunchesInARowKeepDescriptorsThreadsAndMemoryLevel) {
    firstLook = std::chrono::milliseconds(0);
    // The first launch downloads and boots; the warm-up fills the caches that stay.
    for (int index = 0; index < kWarmUpLaunches; ++index) {
        ASSERT_NO_FATAL_FAILURE(launchNumber(index, /*mayCancel=*/false));
    }
    const Usage before;
    for (int index = 0; index < kSoakLaunches; ++index) {
        ASSERT_NO_FATAL_FAILURE(launchNumber(index, /*mayCancel=*/true));
    }
    const Usage after;

    EXPECT_LE(after.descriptors, before.descriptors + kDescriptorSlack);
    EXPECT_LE(after.threads, before.threads + kThreadSlack);
    EXPECT_LE(after.memory, before.memory + kMemorySlackBytes)
        << "grew by " << (after.memory - before.memory) / 1024 << " KiB";
    expectCleanMachineAndWorkingNextLaunch();
}

}  // namespace
}  // namespace quaylet::testing
