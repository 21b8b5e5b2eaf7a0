#include "core/process/ProcessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "core/errors/CancellationError.h"
#include "core/process/DeveloperTools.h"
#include "support/ProcessState.h"
#include "support/ScopedEnvironment.h"
#include "support/Signpost.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using namespace std::chrono_literals;

ToolCommand shell(const std::string& script) {
    return {"/bin/sh", {"-c", script}};
}

class ProcessRunnerTest : public ::testing::Test {
  protected:
    // Every run's working folder must go; a private TMPDIR makes leftovers visible.
    void TearDown() override {
        EXPECT_TRUE(std::filesystem::is_empty(temporary.path())) << "a working folder was left";
    }

    testing::TemporaryDirectory scratch;
    testing::TemporaryDirectory temporary;
    testing::ScopedEnvironment tmpdir{"TMPDIR", temporary.path().string()};
    ProcessRunner runner;
};

// Output is text even when the bytes are not UTF-8; a child ended by a signal reports it. The
// runs go at once, each keeping its own, under the thread sanitizer too.
TEST_F(ProcessRunnerTest, ConcurrentRunsCaptureTheirOwnOutputAndStatusAsText) {
    const struct {
        std::string script, out, err;
        std::int32_t status;
    } cases[] = {
        {"printf out; printf err >&2; exit 7", "out", "err", 7},
        {R"(printf 'a\377b\342\202c'; printf '\300' >&2)", "a\uFFFDb\uFFFDc", "\uFFFD", 0},
        {"kill -KILL $$", "", "", SIGKILL},
    };
    std::vector<std::future<ProcessResult>> calls;
    for (const auto& c : cases) {
        calls.push_back(
            std::async(std::launch::async, [&] { return runner.run(shell(c.script), {}); }));
    }
    for (const auto& c : cases) {
        const ProcessResult result = calls[std::size_t(&c - cases)].get();
        EXPECT_EQ(
            result,
            (ProcessResult{"/bin/sh", {"-c", c.script}, c.out, c.err, c.status, result.duration}))
            << c.script << ": " << result.standardOutput << result.standardError << result.status;
    }
}

// The working folder is the owner's alone; a child that cannot start leaves none behind either.
TEST_F(ProcessRunnerTest, KeepsTheWorkingFolderToItsOwner) {
    const ::mode_t previous = ::umask(022);
    const auto result = runner.run(shell(R"(stat -c %a "$TMPDIR"/quaylet-process-*)"), {});
    ::umask(previous);
    EXPECT_EQ(result.standardOutput, "700\n");
    EXPECT_THROW(runner.runChecked({(scratch.path() / "missing").string(), {}}, {}),
                 std::system_error);
}

TEST_F(ProcessRunnerTest, ChildInheritsOnlyTheStandardStreams) {
    // Opened without close-on-exec, as a careless library might.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    const auto result = runner.run({"/bin/ls", {"/proc/self/fd"}}, {});
    ::close(leaked);
    // ls itself holds the folder it lists open as descriptor 3.
    EXPECT_EQ(result.standardOutput, "0\n1\n2\n3\n");
}

// A child meant to outlive Quaylet leads a session of its own, reads nothing of ours and
// appends both its streams to the log.
TEST_F(ProcessRunnerTest, StartsAChildInASessionOfItsOwnWithItsOutputLogged) {
    const std::filesystem::path log = scratch.path() / "child.log";
    std::ofstream(log) << "earlier\n";
    const pid_t child =
        runner.startInOwnSession(shell("read line || echo no input; echo err >&2; exit 3"), log);
    EXPECT_EQ(::getsid(child), child);
    std::optional<std::int32_t> status;
    while (!(status = ProcessRunner::exitStatusIfExited(child))) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(*status, 3);
    std::ostringstream text;
    text << std::ifstream(log).rdbuf();
    EXPECT_EQ(text.str(), "earlier\nno input\nerr\n");
}

// A stop before the child starts, while it runs or after it ended ends the call as cancelled;
// while it runs, the stop also ends the helper the child started.
TEST_F(ProcessRunnerTest, CancellingBeforeDuringOrAfterTheChildEndsTheCallAndItsHelpers) {
    const testing::Signpost pids(scratch.path() / "pids");
    // The shell starts a helper in the background and waits on it in the foreground.
    const std::string during = "sleep 30 & echo $$ $! > '" + pids.path().string() + "'; wait";
    for (const std::string& script : {std::string("sleep 30"), during, std::string("exit 1")}) {
        SCOPED_TRACE(script);
        std::stop_source stop;
        if (script == "sleep 30") {
            stop.request_stop();
        }
        auto call = std::async(std::launch::async,
                               [&] { return runner.runChecked(shell(script), stop.get_token()); });
        pid_t shellPid = 0;
        pid_t helperPid = 0;
        if (script == during) {
            std::istringstream(pids.awaitLine()) >> shellPid >> helperPid;
            ASSERT_GT(helperPid, 0) << "the child never told its helper";
        }
        stop.request_stop();
        ASSERT_EQ(call.wait_for(20s), std::future_status::ready) << "cancel did not end the wait";
        EXPECT_THROW(call.get(), CancellationError);
        for (int attempt = 0; attempt < 500 && helperPid > 0 && testing::isRunning(helperPid);
             ++attempt) {
            std::this_thread::sleep_for(10ms);  // the orphaned helper dies on its own signal
        }
        EXPECT_FALSE(helperPid > 0 &&
                     (testing::isRunning(shellPid) || testing::isRunning(helperPid)));
    }
}

// The stand-in tools read the other command lines on every launch, and the screenshot's is the
// simulator launcher's test; a change to these two would pass them unnoticed. The folder comes
// from the override only when it is absolute.
TEST(DeveloperToolsTest, EveryCommandLineRunsFromTheToolFolder) {
    const DeveloperTools tools("/usr/bin");
    EXPECT_EQ(tools.activateSimulator(), (ToolCommand{"/usr/bin/open", {"-a", "Simulator"}}));
    EXPECT_EQ(tools.extractArchive("/a.zip", "/out"),
              (ToolCommand{"/usr/bin/ditto", {"-x", "-k", "--noqtn", "/a.zip", "/out"}}));
    const testing::ScopedEnvironment unset("QUAYLET_HOST_TOOLS_DIR", std::nullopt);
    const auto installed = DeveloperTools::forThisHost().directory();
    const testing::ScopedEnvironment relative("QUAYLET_HOST_TOOLS_DIR", "relative/tools");
    EXPECT_EQ(DeveloperTools::forThisHost().directory(), installed);
}

}  // namespace
}  // namespace quaylet
