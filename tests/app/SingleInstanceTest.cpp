// Several starts of quaylet-app by one user, as real processes: later starts hand their
// links to the running one, and a crashed one leaves nothing in the way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>
#include <chrono>
#include <fstream>
#include <list>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using testing::ChildProcess;

std::vector<std::string> withProgram(const std::vector<std::string>& links) {
    std::vector<std::string> arguments{QUAYLET_APP_PROGRAM};
    arguments.insert(arguments.end(), links.begin(), links.end());
    return arguments;
}

// One running quaylet-app whose standard error goes to a file the test reads.
class AppProcess {
  public:
    AppProcess(const std::filesystem::path& log, const std::vector<std::string>& links)
        : log_(log) {
        const int descriptor = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ChildProcess::start(withProgram(links), -1, -1, descriptor);
        ::close(descriptor);
    }
    ~AppProcess() { stop(SIGTERM); }

    // The links the process logged as opened, in its order; other output is not ours to
    // check.
    std::vector<std::string> openedLinks() const {
        constexpr std::string_view kOpened = "quaylet.links: Opening ";
        std::ifstream lines(log_);
        std::vector<std::string> links;
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with(kOpened)) {
                links.push_back(line.substr(kOpened.size()));
            }
        }
        return links;
    }

    // Waits until the process has opened `count` links, which a primary does only after it
    // has taken the lock and listens; fails when it exits first.
    bool waitForLinks(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (openedLinks().size() < count && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return openedLinks().size() >= count;
    }

    // Never signals once the process is gone: kill(-1) would reach every process of the user.
    void stop(int signal) {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, signal);
        ChildProcess::wait(pid_);
        pid_ = -1;
    }

  private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

// A crashed one leaves its lock file behind; the next start takes over from it.
TEST(SingleInstanceTest, AStartAfterACrashBecomesTheRunningOneAndLaterStartsHandOverInOrder) {
    testing::TemporaryDirectory home;
    const std::filesystem::path runtime = home.path() / "runtime";
    std::filesystem::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);
    // Everything the children keep goes to throwaway folders, and nothing they do leaves the
    // machine: the service is a closed loopback port and there is no secret store.
    std::list<testing::ScopedEnvironment> environment;
    for (const auto& [name, value] : std::vector<std::pair<const char*, std::string>>{
             {"HOME", home.path().string()},
             {"XDG_RUNTIME_DIR", runtime.string()},
             {"XDG_CONFIG_HOME", (home.path() / "config").string()},
             {"XDG_STATE_HOME", (home.path() / "state").string()},
             {"XDG_CACHE_HOME", (home.path() / "cache").string()},
             {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home.path() / "no-bus").string()},
             {"QUAYLET_API_URL", "http://127.0.0.1:9"},
             {"QUAYLET_UPDATE_FEED", ""},
             {"QT_QPA_PLATFORM", "offscreen"},
             {"QT_LOGGING_RULES", "quaylet.links.info=true"}}) {
        environment.emplace_back(name, value);
    }
    {
        AppProcess crashed(home.path() / "crashed.log", {"quaylet://preview/first"});
        ASSERT_TRUE(crashed.waitForLinks(1));
        crashed.stop(SIGKILL);
    }
    ASSERT_TRUE(std::filesystem::exists(runtime / "quaylet-app.lock"));

    AppProcess primary(home.path() / "primary.log", {"quaylet://preview/after-crash"});
    ASSERT_TRUE(primary.waitForLinks(1));
    const int status = ChildProcess::wait(ChildProcess::start(
        withProgram({"quaylet://preview/second", "quaylet://auth?code=secret"})));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // A start without links is acknowledged too, and opens nothing.
    EXPECT_EQ(ChildProcess::wait(ChildProcess::start(withProgram({}))), status);

    // The sign-in code stays out of the log.
    EXPECT_EQ(primary.openedLinks(),
              (std::vector<std::string>{"quaylet://preview/after-crash", "quaylet://preview/second",
                                        "quaylet://auth"}));
}

}  // namespace
}  // namespace quaylet
