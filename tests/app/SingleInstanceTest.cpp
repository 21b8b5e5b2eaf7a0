// Several starts of quaylet-app by one user, as real processes: later starts hand their
// links to the running one, and a crashed one leaves nothing in the way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>
#include <list>

#include "support/ChildProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using testing::ChildProcess;

pid_t startApp(std::vector<std::string> links, int standardError = -1) {
    links.insert(links.begin(), QUAYLET_APP_PROGRAM);
    return ChildProcess::start(links, -1, -1, standardError);
}

// One running quaylet-app whose log the test reads as it comes.
class AppProcess {
  public:
    explicit AppProcess(const std::string& link) {
        const auto [reading, writing] = ChildProcess::pipe();
        log_ = reading;
        pid_ = startApp({link}, writing);
        ::close(writing);
    }
    ~AppProcess() {
        stop(SIGTERM);
        ::close(log_);
    }

    // The links logged as opened, read until there are `count` or the log ends (an empty
    // line). A primary opens links only once it holds the lock and listens.
    const std::vector<std::string>& openedLinks(std::size_t count) {
        constexpr std::string_view kOpened = "quaylet.links: Opening ";
        for (std::string line;
             opened_.size() < count && !(line = ChildProcess::readLine(log_)).empty();) {
            if (line.starts_with(kOpened)) {
                opened_.push_back(line.substr(kOpened.size()));
            }
        }
        return opened_;
    }

    // Never signals once the process is gone: kill(-1) would reach every process of the user.
    void stop(int signal) {
        if (pid_ > 0) {
            ::kill(pid_, signal);
            ChildProcess::wait(pid_);
            pid_ = -1;
        }
    }

  private:
    int log_ = -1;
    pid_t pid_ = -1;
    std::vector<std::string> opened_;
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
    AppProcess crashed("quaylet://preview/first");
    ASSERT_EQ(crashed.openedLinks(1).size(), 1u);
    crashed.stop(SIGKILL);
    ASSERT_TRUE(std::filesystem::exists(runtime / "quaylet-app.lock"));

    AppProcess primary("quaylet://preview/after-crash");
    ASSERT_EQ(primary.openedLinks(1).size(), 1u);
    const int status =
        ChildProcess::wait(startApp({"quaylet://preview/second", "quaylet://auth?code=secret"}));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // A start without links is acknowledged too, and opens nothing.
    EXPECT_EQ(ChildProcess::wait(startApp({})), status);

    // Read to the end of the log; the sign-in code stays out of it.
    primary.stop(SIGTERM);
    EXPECT_EQ(primary.openedLinks(4),
              (std::vector<std::string>{"quaylet://preview/after-crash", "quaylet://preview/second",
                                        "quaylet://auth"}));
}

}  // namespace
}  // namespace quaylet
