// Faults injected along the whole launch road of a pull-request build: the loopback service,
// the cache's disk and the host tools misbehave, or the user cancels, and each case ends in
// one check that nothing is left running, in the temporary folder or half-written in the cache,
// and that the next launch works.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/errors/UserMessage.h"
#include "core/process/DeveloperTools.h"
#include "core/service/RemotePreviewLauncher.h"
#include "core/service/ServiceRecords.h"
#include "feature/CorePreviewService.h"
#include "fixtures/AppBundleBuilder.h"
#include "fixtures/ZipBuilder.h"
#include "support/DevServiceProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/ScriptedTools.h"
#include "support/Signpost.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

struct LaunchOutcome {
    std::vector<RemoteLaunchStage> stages;
    std::exception_ptr error;

    // The sentence a user reads; absent after success and after cancellation.
    std::optional<std::string> message() const { return userMessage(error); }
    bool wasCancelled() const { return isCancellation(error); }
};

// The whole road of a pull-request launch on this machine, laid afresh for each test: the
// loopback service serving one build, the stand-in simulator with a device set of its own
// (every device shut down), an empty cache and a temporary folder of the test's own.
class LaunchRoadTest : public ::testing::Test {
  protected:
    static constexpr const char* kToken = "fault-token";
    static constexpr const char* kPreview = "pr-faults";

    LaunchRoadTest() {
        // Orphans of a tool that was stopped become this process's children, where the
        // leftover check can see them.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        HTTPSession::shared().start();
    }

    // A pull-request launch through the service the application launches with, which joins the
    // launch's own stop to its own; onStage runs as each stage is reported, before its work.
    LaunchOutcome launch(const DeveloperTools& tools = DeveloperTools::forThisHost(),
                         std::stop_token stop = {},
                         const std::function<void(RemoteLaunchStage)>& onStage = {}) const {
        const AppInspector inspector(ProcessRunner(), tools);
        CorePreviewService previews(RemotePreviewLauncher(
            PreviewAPIClient(service.baseURL(), HTTPSession::shared()),
            ArtifactSecurity(ProcessRunner(), tools),
            SimulatorLauncher(ProcessRunner(), tools, SimulatorDiscovery(ProcessRunner(), tools),
                              SimulatorSelector(), inspector, firstLook),
            inspector, EmulatorLauncher::forThisHost(), cacheRoot));
        LaunchOutcome outcome;
        const auto report = [&](RemoteLaunchStage stage) {
            outcome.stages.push_back(stage);
            if (onStage) {
                onStage(stage);
            }
        };
        try {
            previews.launch({.previewID = kPreview,
                             .token = kToken,
                             .downloadProgress = onDownload,
                             .bootEarly = bootEarly},
                            {}, report, stop);
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    }

    fs::path cachedArchive() const { return cacheRoot / kPreview / digest / "artifact.zip"; }

    // What every fault must leave behind: no process of ours still running, no working folder
    // of the process runner in the temporary folder, and a next launch that works.
    void expectCleanMachineAndWorkingNextLaunch() const {
        for (const pid_t child : childrenOfThisProcess()) {
            EXPECT_TRUE(reapWithinGrace(child)) << "process " << child << " outlived its launch";
        }
        for (const auto& entry : fs::directory_iterator(temporaryFolder)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with("quaylet-process-"))
                << entry.path() << " was left behind";
        }

        EXPECT_EQ(launch().message(), std::nullopt) << "the next launch failed";
    }

    // Told of the download's bytes as launch() downloads.
    DownloadObserver onDownload;
    // The launched app's first look; the soak shortens it to launch hundreds of times.
    std::chrono::milliseconds firstLook = SimulatorLauncher::kFirstLook;
    bool bootEarly = false;
    TemporaryDirectory scratch;
    const fs::path temporaryFolder = createdFolder(scratch.path() / "tmp");
    ScopedEnvironment temporaryEnvironment{"TMPDIR", temporaryFolder.string()};
    ScopedEnvironment simulatorEnvironment{"QUAYLET_SIMULATOR_HOME",
                                           (scratch.path() / "simulator").string()};
    const fs::path builds = createdFolder(scratch.path() / "builds");
    // A test may move it onto a file system of its own before launching.
    fs::path cacheRoot = scratch.path() / "cache";
    const std::string digest = publishBuild();  // of the archive the service serves
    DevServiceProcess service{builds, {"--token", kToken}};

  private:
    static fs::path createdFolder(const fs::path& path) {
        fs::create_directories(path);
        return path;
    }

    // Writes the build the service serves and returns its archive's digest.
    std::string publishBuild() const {
        const fs::path archive = createdFolder(builds / kPreview) / "artifact.zip";
        fixtures::ZipBuilder()
            .addBundle(fixtures::AppBundleBuilder().elfExecutableForHost(), "")
            // A large resource stored as it is, so the archive takes several writes.
            .add({.name = "Demo.app/Payload.bin",
                  .data = std::string(512 * 1024, 'x'),
                  .method = fixtures::ZipMethod::stored})
            .writeTo(archive);
        json manifest = manifestJson();
        manifest["previewId"] = kPreview;
        manifest["artifactSize"] = fs::file_size(archive);
        manifest["sha256"] =
            ArtifactSecurity(ProcessRunner(), DeveloperTools::forThisHost()).sha256(archive, {});
        std::ofstream(archive.parent_path() / "manifest.json") << manifest;
        return manifest["sha256"];
    }

    // Every process whose parent is this one, the service aside.
    std::vector<pid_t> childrenOfThisProcess() const {
        std::vector<pid_t> children;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            // "pid (name) state ppid …": the name may hold anything, so read after its last ')'.
            std::string stat;
            std::getline(std::ifstream(entry.path() / "stat"), stat);
            const auto nameEnd = stat.rfind(") ");
            const pid_t pid = std::atoi(entry.path().filename().c_str());
            if (nameEnd != std::string::npos && pid != service.pid() &&
                std::atoi(stat.c_str() + nameEnd + 4) == ::getpid()) {
                children.push_back(pid);
            }
        }
        return children;
    }

    // Waits a bounded time (10 s) for a child to end and reaps it; false when it still runs.
    static bool reapWithinGrace(pid_t child) {
        const int handle = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
        if (handle < 0) {
            return true;  // already gone
        }
        pollfd ended{handle, POLLIN, 0};
        const bool exited = ::poll(&ended, 1, 10'000) == 1;
        ::close(handle);
        if (!exited) {
            ::kill(child, SIGKILL);  // so that one failure does not spill into the next test
        }
        ::waitpid(child, nullptr, 0);
        return exited;
    }
};

// Drives the service's test-only faults at /dev: a fault is armed on one route ("manifest",
// "download" or "artifact") from its JSON text, such as {"fault": "drop", "at": 0.4}.
class ServerFaultTest : public LaunchRoadTest {
  protected:
    // Clears the faults and the record of archive requests, then arms the fault, if any.
    void faultOnly(const std::string& route = "", const std::string& fault = "") {
        auto answer = control().Delete("/dev/faults");
        if (!route.empty() && answer && answer->status == 204) {
            json body = json::parse(fault);
            body["route"] = route;
            answer = control().Post("/dev/faults", body.dump(), "application/json");
        }
        ASSERT_TRUE(answer && answer->status == 204) << "the service refused the fault";
    }
    // The Range header ("" for none) of each archive request since the faults were cleared.
    std::vector<std::string> artifactRanges() {
        const auto answer = control().Get("/dev/artifact-ranges");
        return answer ? json::parse(answer->body).get<std::vector<std::string>>()
                      : std::vector<std::string>{"<no answer>"};
    }
    httplib::Client control() const { return httplib::Client("127.0.0.1", service.port()); }
};

// Each case starts from an empty cache, so that the download is needed again. The archive's
// host is asked again after a 5xx or a drop (three times at most), and for a new address after
// an expired one. What a failed launch has downloaded stays for the next one to resume.
TEST_F(ServerFaultTest, EachRequestFailingInTurnEndsOrResumesTheLaunchAndLeavesNothingBehind) {
    const std::string trouble = "The service is having trouble. Try again later.";
    const std::string failed =
        "The build couldn’t be downloaded. Check your connection, then try again.";
    const auto size = double(fs::file_size(builds / kPreview / "artifact.zip"));
    const std::string resumeAt = "bytes=" + std::to_string(std::size_t(size * 0.4)) + "-";
    const struct {
        const char* route;
        const char* fault;
        std::optional<std::string> message;        // absent: it succeeds
        std::vector<std::string> ranges = {};      // of the archive requests
        std::vector<std::string> nextRanges = {};  // and of the next launch's
    } cases[] = {
        {"manifest", R"({"fault":"status","status":500})", trouble, {}, {""}},
        {"artifact",
         R"({"fault":"drop","at":0.4})",
         failed,
         {"", resumeAt, resumeAt, resumeAt},
         {resumeAt}},
        {"artifact", R"({"fault":"drop","at":0.4,"times":1})", {}, {"", resumeAt}},
        {"artifact", R"({"fault":"status","status":502,"times":1})", {}, {"", ""}},
        {"download", R"({"fault":"expire","times":1})", {}, {"", ""}},
        {"download", R"({"fault":"expire","times":2})", failed, {"", ""}, {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.route) + " " + c.fault);
        fs::remove_all(cacheRoot);
        faultOnly(c.route, c.fault);
        const LaunchOutcome outcome = launch();
        EXPECT_EQ(outcome.message(), c.message);
        EXPECT_EQ(artifactRanges(), c.ranges);
        EXPECT_EQ(fs::exists(cachedArchive()), !c.message);
        faultOnly();
        expectCleanMachineAndWorkingNextLaunch();
        EXPECT_EQ(artifactRanges(), c.nextRanges);
    }
}

// A launch stopped during its download keeps what arrived: the next one asks only for the rest,
// or for nothing once every byte had arrived.
TEST_F(ServerFaultTest, ADownloadStoppedPartWayIsResumedByTheNextLaunch) {
    const auto size = fs::file_size(builds / kPreview / "artifact.zip");
    for (const bool partWay : {true, false}) {
        SCOPED_TRACE(partWay ? "part-way" : "after the last byte");
        fs::remove_all(cacheRoot);
        faultOnly(partWay ? "artifact" : "", R"({"fault":"drop","at":0.4,"times":1})");
        std::stop_source user;
        onDownload = [&](std::int64_t received, std::int64_t expected) {
            if (partWay ? received * 3 >= expected : received == expected) {
                user.request_stop();
            }
        };
        EXPECT_TRUE(launch(DeveloperTools::forThisHost(), user.get_token()).wasCancelled());
        onDownload = nullptr;
        const auto kept = fs::file_size(cachedArchive().parent_path() /
                                        RemotePreviewLauncher::kPartialArchiveName);
        expectCleanMachineAndWorkingNextLaunch();
        std::vector<std::string> ranges{""};
        if (kept < size) {
            ranges.push_back("bytes=" + std::to_string(kept) + "-");
        }
        EXPECT_EQ(artifactRanges(), ranges);
        EXPECT_EQ(kept < size, partWay);
    }
}

// The user cancels a pull-request launch once the service holds the route's request unanswered
// or a host tool hangs (when its second argument matches `subcommand`, a shell pattern): the
// stop must reach each request and command of the launch.
using CancellationTest = ServerFaultTest;

TEST_F(CancellationTest, AStalledLaunchEndsCancelledAndLeavesNothingBehind) {
    using enum RemoteLaunchStage;
    const struct {
        const char* name;
        RemoteLaunchStage stage;
        std::string route;
        std::string tool = "";
        std::string subcommand = "*";
    } stalls[] = {
        {"ManifestStalls", fetching, "manifest"},
        {"ArtifactStalls", downloading, "artifact"},
        {"UnpackingHangs", extracting, "", "ditto"},
        {"SimulatorListingHangs", fetching, "", "xcrun", "list"},  // judging the manifest
        {"BootWaitHangs", booting, "", "xcrun", "bootstatus"},
    };
    for (const auto& stall : stalls) {
        SCOPED_TRACE(stall.name);
        fs::remove_all(cacheRoot);
        fs::remove_all(scratch.path() / "simulator");  // every device shut down again
        faultOnly(stall.route, R"({"fault":"stall"})");
        const Signpost hung(scratch.path() / "hung");
        ScriptedTools scripted;
        scripted.wrap(stall.tool, "case \"$2\" in " + stall.subcommand + ") echo $$ > '" +
                                      hung.path().string() + "'; exec sleep 600;; esac");
        std::stop_source user;
        LaunchOutcome outcome;
        std::thread launching([&] { outcome = launch(scripted.tools(), user.get_token()); });
        if (stall.tool.empty()) {
            httplib::Client waiting = control();
            waiting.set_read_timeout(60s);
            const auto answer = waiting.Get("/dev/faults/stalled");  // once one is held
            EXPECT_TRUE(answer && json::parse(answer->body).value("stalled", 0) > 0);
        } else {
            EXPECT_FALSE(hung.awaitLine().empty()) << "the tool never ran";
        }
        user.request_stop();
        launching.join();
        EXPECT_TRUE(outcome.wasCancelled()) << outcome.message().value_or("it succeeded");
        EXPECT_EQ(outcome.stages.back(), stall.stage);
        faultOnly();
        // A hung tool that outlived the cancellation is a leftover process here.
        expectCleanMachineAndWorkingNextLaunch();
    }
}

// The device boots beside the download: its boot has started while the service still holds the
// archive. Once: the booting stage waits for it (held until then) rather than booting again; an
// early boot that fails is followed by the launch's own; a cancel during the overlap stops it.
TEST_F(CancellationTest, TheDeviceBootsOnceBesideTheDownloadAndACancelStopsIt) {
    bootEarly = true;
    const fs::path log = scratch.path() / "boots";
    const fs::path gate = scratch.path() / "gate";  // each boot waits for the booting stage
    const fs::path failed = scratch.path() / "failed";
    const struct {
        const char* name;
        std::string script;
        std::size_t boots;  // asked of the tool; 0: cancelled during the download
    } cases[] = {
        {"BootsOnce", "", 1},
        {"EarlyBootFails", "boot) mkdir '" + failed.string() + "' && exit 1;;", 2},
        {"CancelledDuringTheOverlap", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(cacheRoot);
        fs::remove_all(scratch.path() / "simulator");
        for (const fs::path& file : {log, gate, failed}) {
            fs::remove(file);
        }
        faultOnly("artifact", R"({"fault":"stall"})");
        const Signpost booting(scratch.path() / "booting");
        ScriptedTools scripted;
        scripted.wrap("xcrun", "case \"$2\" in boot) echo \"$3\" >> '" + log.string() +
                                   "'; echo \"$3\" > '" + booting.path().string() +
                                   "';; esac\ncase \"$2\" in " + c.script +
                                   " esac\ncase \"$2\" in boot) while [ ! -e '" + gate.string() +
                                   "' ]; do sleep 0.05; done;; esac");
        std::stop_source user;
        LaunchOutcome outcome;
        std::thread launching([&] {
            outcome = launch(scripted.tools(), user.get_token(), [&](RemoteLaunchStage stage) {
                if (stage == RemoteLaunchStage::booting) {
                    std::ofstream{gate};
                }
            });
        });
        httplib::Client waiting = control();
        waiting.set_read_timeout(60s);
        const auto held = waiting.Get("/dev/faults/stalled");
        EXPECT_TRUE(held && json::parse(held->body).value("stalled", 0) > 0);
        EXPECT_FALSE(booting.awaitLine().empty()) << "no boot while the download was held";
        if (c.boots == 0) {
            user.request_stop();
        }
        faultOnly();
        launching.join();
        EXPECT_EQ(outcome.wasCancelled(), c.boots == 0);
        EXPECT_EQ(outcome.message(), std::nullopt);
        if (c.boots != 0) {
            std::ifstream lines(log);
            EXPECT_EQ(std::count(std::istreambuf_iterator<char>(lines), {}, '\n'), c.boots);
        }
        expectCleanMachineAndWorkingNextLaunch();
    }
}

using DiskFaultTest = LaunchRoadTest;

// Same size, other bytes: only the digest tells.
TEST_F(DiskFaultTest, ACachedArchiveChangedBetweenLaunchesIsDownloadedAgain) {
    ASSERT_EQ(launch().message(), std::nullopt);
    std::fstream(cachedArchive(), std::ios::in | std::ios::out | std::ios::binary)
        .seekp(std::streamoff(fs::file_size(cachedArchive()) / 2))
        .put('\x5a');
    EXPECT_EQ(launch().stages.at(1), RemoteLaunchStage::downloading);
    expectCleanMachineAndWorkingNextLaunch();
}

// A tmpfs over the cache, made read-only after a first launch or smaller than the archive;
// mounting needs root (CI runs as root), so elsewhere the test is skipped.
TEST_F(DiskFaultTest, AReadOnlyOrFullCacheEndsTheLaunchWithTheReasonAndNoPartialFile) {
    const auto mount = [&](std::uintmax_t size, unsigned long flags) {
        return ::mount("quaylet-faults", cacheRoot.c_str(), "tmpfs", flags,
                       ("size=" + std::to_string(size)).c_str()) == 0;
    };
    const struct {
        std::uintmax_t size;
        bool readOnlyAfterALaunch;
        std::string message;  // a part of it
    } disks[] = {
        // A cached build on a disk turned read-only: neither can the unpacking tool write nor
        // the earlier copy be removed.
        {16 << 20, true, "A required Mac command failed"},
        // Full during the download: a sentence to act on, not the library's text and paths.
        {fs::file_size(builds / kPreview / "artifact.zip") / 2, false,
         std::string(kCacheWriteFailed)},
    };
    fs::create_directories(cacheRoot);
    for (const auto& disk : disks) {
        SCOPED_TRACE(disk.message);
        if (!mount(disk.size, 0)) {
            GTEST_SKIP() << "this process may not mount a tmpfs: " << std::strerror(errno);
        }
        const struct Unmount {
            const fs::path& at;
            ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
        } unmount{cacheRoot};
        if (disk.readOnlyAfterALaunch) {
            ASSERT_EQ(launch().message(), std::nullopt);
            ASSERT_TRUE(mount(disk.size, MS_REMOUNT | MS_RDONLY)) << std::strerror(errno);
        }
        const std::string message = launch().message().value_or("it succeeded");
        EXPECT_NE(message.find(disk.message), std::string::npos) << message;
        ASSERT_TRUE(mount(16 << 20, MS_REMOUNT)) << std::strerror(errno);
        expectCleanMachineAndWorkingNextLaunch();
    }
}

long residentBytes() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages >> pages;  // the total size, then what is resident
    return pages * ::sysconf(_SC_PAGESIZE);
}

struct Usage {
    long descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    long threads = std::distance(fs::directory_iterator("/proc/self/task"), {});
    long memory = residentBytes();
};

using SoakTest = LaunchRoadTest;

// Many launches in a row, some cancelled, must not leak descriptors, threads or memory. The
// sanitizer pass leaves this test out: its quarantine keeps freed memory resident.
TEST_F(SoakTest, TwoHundredLaunchesInARowKeepDescriptorsThreadsAndMemoryLevel) {
    using enum RemoteLaunchStage;
    firstLook = std::chrono::milliseconds(0);
    // The first launch downloads and boots; the warm-up fills the caches that stay.
    for (int index = 0; index < 6; ++index) {
        ASSERT_EQ(launch().message(), std::nullopt) << "warm-up launch " << index;
    }
    // The road of a cached build, but for its last stage: a launch cancelled there has ended.
    const std::vector road = {fetching, verifying, extracting, selecting, installing, launching};
    const Usage before;
    // Every fifth launch is cancelled, at a stage that moves along the road each time.
    for (int index = 0; index < 200; ++index) {
        const bool cancel = index % 5 == 4;
        const RemoteLaunchStage cancelAt = road[std::size_t(index / 5) % road.size()];
        std::stop_source user;
        const LaunchOutcome outcome =
            launch(DeveloperTools::forThisHost(), user.get_token(), [&](RemoteLaunchStage stage) {
                if (cancel && stage == cancelAt) {
                    user.request_stop();
                }
            });
        ASSERT_EQ(outcome.message(), std::nullopt) << "launch " << index;
        ASSERT_EQ(outcome.wasCancelled(), cancel) << "launch " << index;
    }
    const Usage after;
    // Slack for what the allocator and the libraries keep for reuse, not for growth per launch.
    EXPECT_LE(after.descriptors, before.descriptors + 2);
    EXPECT_LE(after.threads, before.threads + 2);
    EXPECT_LE(after.memory, before.memory + 24L * 1024 * 1024)
        << "grew by " << (after.memory - before.memory) / 1024 << " KiB";
    expectCleanMachineAndWorkingNextLaunch();
}

}  // namespace
}  // namespace quaylet::testing
