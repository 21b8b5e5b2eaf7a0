#include "LaunchRoad.h"

#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "fixtures/ZipBuilder.h"

namespace quaylet::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// How long a process that was told to stop may take to go; one still there is left behind.
constexpr int kLeftoverGraceMilliseconds = 10'000;

fs::path createdFolder(const fs::path& path) {
    fs::create_directories(path);
    return path;
}

// Bytes no compressor can shrink, so the archive on disk is as large as the payload.
std::string incompressibleBytes(std::size_t size) {
    std::mt19937 generator(11);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

std::string readFile(const fs::path& file) {
    std::ifstream input(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(input), {});
}

// Every process whose parent is this one, other than those named in `except`.
std::vector<pid_t> childrenOfThisProcess(const std::vector<pid_t>& except) {
    std::vector<pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // "pid (name) state ppid …": the name may hold anything, so read after its last ')'.
        const std::string stat = readFile(entry.path() / "stat");
        const auto nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(nameEnd + 1));
        std::string state;
        pid_t parent = 0;
        fields >> state >> parent;
        const pid_t pid = std::stoi(name);
        if (parent == ::getpid() && std::find(except.begin(), except.end(), pid) == except.end()) {
            children.push_back(pid);
        }
    }
    return children;
}

// Waits a bounded time for a child to end and reaps it; false when it is still running.
bool reapWithinGrace(pid_t child) {
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (handle < 0) {
        return true;  // already gone
    }
    pollfd ended{handle, POLLIN, 0};
    const bool exited = ::poll(&ended, 1, kLeftoverGraceMilliseconds) == 1;
    ::close(handle);
    if (!exited) {
        ::kill(child, SIGKILL);  // so that one failure does not spill into the next test
    }
    ::waitpid(child, nullptr, 0);
    return exited;
}

}  // namespace

DeveloperTools toolsWithFault(ScriptedTools& folder, const std::string& tool,
                              const std::string& subcommand, const std::string& body) {
    const fs::path real = DeveloperTools::forThisHost().directory();
    for (const auto& entry : fs::directory_iterator(real)) {
        if (entry.path().filename() != tool) {
            fs::create_symlink(entry.path(), folder.directory() / entry.path().filename());
        }
    }
    const std::string condition = subcommand.empty() ? "true" : "[ \"$2\" = '" + subcommand + "' ]";
    folder.add(tool, "if " + condition + "; then\n" + body + "\nfi\nexec '" +
                         (real / tool).string() + "' \"$@\"");
    return folder.tools();
}

LaunchRoadTest::LaunchRoadTest()
    : temporaryFolder(createdFolder(scratch.path() / "tmp")),
      temporaryEnvironment("TMPDIR", temporaryFolder.string()),
      simulatorEnvironment("QUAYLET_SIMULATOR_HOME", (scratch.path() / "simulator").string()),
      builds(createdFolder(scratch.path() / "builds")),
      cacheRoot(scratch.path() / "cache"),
      app(fixtures::AppBundleBuilder().elfExecutableForHost()),
      payload(incompressibleBytes(512 * 1024)),
      digest(publishBuild()),
      service(builds, {"--token", kToken}) {
    // Orphans of a tool that was stopped become this process's children, where the leftover
    // check can see them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

std::string LaunchRoadTest::publishBuild() const {
    const fs::path folder = createdFolder(builds / kPreview);
    fixtures::ZipBuilder archive;
    for (const auto& file : app.files()) {
        archive.addFile(file.path, file.contents, file.permissions);
    }
    archive.addFile("Demo.app/Payload.bin", payload);
    archive.writeTo(folder / "artifact.zip");
    std::string sha256 = ArtifactSecurity(ProcessRunner(), DeveloperTools::forThisHost())
                             .sha256(folder / "artifact.zip", {});
    json manifest = json::parse(R"({
        "schemaVersion": 1, "previewId": "pr-faults", "repository": "acme/app", "pullRequest": 7,
        "commitSha": "89abcdef0123456789abcdef0123456789abcdef", "branch": "faults",
        "scheme": "App", "configuration": "Debug", "status": "ready",
        "bundleId": "com.example.Demo", "displayName": "Demo", "minimumOSVersion": "17.0",
        "platform": "iphonesimulator", "architectures": ["x86_64"], "xcodeVersion": "16.0",
        "createdAt": "2026-12-01T10:00:00Z"})");
    manifest["artifactSize"] = fs::file_size(folder / "artifact.zip");
    manifest["sha256"] = sha256;
    std::ofstream(folder / "manifest.json") << manifest;
    return sha256;
}

RemotePreviewLauncher LaunchRoadTest::launcherWith(const DeveloperTools& tools) const {
    const AppInspector inspector(ProcessRunner(), tools);
    return RemotePreviewLauncher(
        PreviewAPIClient(service.baseURL(), HTTPSession::shared()),
        ArtifactSecurity(ProcessRunner(), tools),
        SimulatorLauncher(ProcessRunner(), tools, SimulatorDiscovery(ProcessRunner(), tools),
                          SimulatorSelector(), inspector, firstLook),
        inspector, cacheRoot);
}

LaunchOutcome LaunchRoadTest::launch(const DeveloperTools& tools, std::stop_token stop,
                                     const std::function<void(RemoteLaunchStage)>& onStage) const {
    LaunchOutcome outcome;
    try {
        outcome.report = launcherWith(tools)
                             .launch(
                                 {.previewID = kPreview, .token = kToken}, {},
                                 [&](RemoteLaunchStage stage) {
                                     outcome.stages.push_back(stage);
                                     if (onStage) {
                                         onStage(stage);
                                     }
                                 },
                                 stop)
                             .front()
                             .report;
    } catch (...) {
        outcome.error = std::current_exception();
    }
    return outcome;
}

LaunchOutcome LaunchRoadTest::launchAndCancelWhen(const std::function<void()>& reached,
                                                  const DeveloperTools& tools) {
    std::stop_source user;
    LaunchOutcome outcome;
    std::thread launching([&] { outcome = launch(tools, user.get_token()); });
    reached();
    user.request_stop();
    launching.join();
    return outcome;
}

void LaunchRoadTest::armFault(const std::string& route, const std::string& fault) const {
    json body = json::parse(fault);
    body["route"] = route;
    const auto answer = httplib::Client("127.0.0.1", service.port())
                            .Post("/dev/faults", body.dump(), "application/json");
    ASSERT_TRUE(answer && answer->status == 204) << "the service refused the fault";
}

void LaunchRoadTest::clearFaults() const {
    httplib::Client control("127.0.0.1", service.port());
    const auto answer = control.Delete("/dev/faults");
    ASSERT_TRUE(answer && answer->status == 204);
}

std::vector<std::string> LaunchRoadTest::artifactRanges() const {
    httplib::Client control("127.0.0.1", service.port());
    const auto answer = control.Get("/dev/artifact-ranges");
    return answer ? json::parse(answer->body).get<std::vector<std::string>>()
                  : std::vector<std::string>{"<no answer>"};
}

void LaunchRoadTest::awaitStalledRequest() const {
    httplib::Client control("127.0.0.1", service.port());
    control.set_read_timeout(std::chrono::seconds(60));
    const auto answer = control.Get("/dev/faults/stalled");
    ASSERT_TRUE(answer && answer->status == 200);
    ASSERT_GT(json::parse(answer->body).value("stalled", 0), 0) << "no request was held";
}

fs::path LaunchRoadTest::buildDirectory() const {
    return cacheRoot / kPreview / digest;
}

void LaunchRoadTest::expectCleanMachineAndWorkingNextLaunch() {
    for (const pid_t child : childrenOfThisProcess({service.pid()})) {
        EXPECT_TRUE(reapWithinGrace(child)) << "process " << child << " outlived its launch";
    }

    for (const auto& entry : fs::directory_iterator(temporaryFolder)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("quaylet-process-"))
            << entry.path() << " was left behind";
    }

    std::error_code absent;
    for (auto walk = fs::recursive_directory_iterator(cacheRoot, absent);
         walk != fs::recursive_directory_iterator(); ++walk) {
        EXPECT_EQ(walk->path().filename().string().find(".partial-"), std::string::npos)
            << walk->path() << " is a download left halfway";
    }
    if (fs::exists(cachedArchive())) {
        EXPECT_EQ(ArtifactSecurity(ProcessRunner(), DeveloperTools::forThisHost())
                      .sha256(cachedArchive(), {}),
                  digest)
            << "the cache keeps an archive that is not the build";
    }
    if (fs::exists(buildDirectory() / "app")) {
        const fs::path unpacked = buildDirectory() / "app";
        for (const auto& file : app.files()) {
            EXPECT_EQ(readFile(unpacked / file.path), file.contents)
                << file.path << " is missing or incomplete in the unpacked build";
        }
        EXPECT_TRUE(readFile(unpacked / "Demo.app/Payload.bin") == payload)
            << "the unpacked build's payload is incomplete";
    }

    clearFaults();
    const LaunchOutcome next = launch();
    EXPECT_EQ(next.message(), std::nullopt) << "the next launch failed";
    ASSERT_FALSE(next.stages.empty());
    EXPECT_EQ(next.stages.back(), RemoteLaunchStage::running);
}

}  // namespace quaylet::testing
