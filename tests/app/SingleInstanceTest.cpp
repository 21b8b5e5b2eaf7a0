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
#include <iterator>
#include <list>
#include <sstream>
#include <thread>

#include "support/ChildProcess.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace quaylet {
namespace {

using testing::ChildProcess;
using testing::ScopedEnvironment;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

constexpr std::string_view kOpenedPrefix = "quaylet.links: Opening ";

std::string openedLine(const std::string& link) {
    return std::string(kOpenedPrefix) + link + "\n";
}

// The links a process logged as opened, in its order; other output is not ours to check.
std::vector<std::string> openedLinks(const std::string& log) {
    std::vector<std::string> links;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(kOpenedPrefix)) {
            links.push_back(line.substr(kOpenedPrefix.size()));
        }
    }
    return links;
}

// One running quaylet-app whose standard error goes to a file the test reads.
class AppProcess {
  public:
    AppProcess(const std::filesystem::path& log, const std::vector<std::string>& links)
        : log_(log) {
        const int descriptor = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::vector<std::string> arguments{QUAYLET_APP_PROGRAM};
        arguments.insert(arguments.end(), links.begin(), links.end());
        pid_ = ChildProcess::start(arguments, -1, -1, descriptor);
        ::close(descriptor);
    }
    ~AppProcess() {
        if (pid_ > 0) {
            stop(SIGTERM);
        }
    }

    // Waits until the process has logged `line`, which a primary does only after it has
    // taken the lock and listens; fails when it exits first.
    bool waitForLine(const std::string& line) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (readFile(log_).find(line) != std::string::npos) {
                return true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return readFile(log_).find(line) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    int stop(int signal) {
        ::kill(pid_, signal);
        const int status = ChildProcess::wait(pid_);
        pid_ = -1;
        return status;
    }

    std::string log() const { return readFile(log_); }

  private:
    std::filesystem::path log_;
    pid_t pid_ = -1;
};

// The wait status of a start that should hand its links over and leave.
int runToEnd(const std::vector<std::string>& links) {
    std::vector<std::string> arguments{QUAYLET_APP_PROGRAM};
    arguments.insert(arguments.end(), links.begin(), links.end());
    return ChildProcess::wait(ChildProcess::start(arguments));
}

class SingleInstanceTest : public ::testing::Test {
  protected:
    SingleInstanceTest() {
        std::filesystem::create_directories(runtime);
        ::chmod(runtime.c_str(), 0700);
    }

    testing::TemporaryDirectory home;
    std::filesystem::path runtime = home.path() / "runtime";
    // Everything the children keep goes to throwaway folders, and nothing they do leaves the
    // machine: the service is a closed loopback port and there is no secret store.
    std::list<ScopedEnvironment> environment = [this] {
        std::list<ScopedEnvironment> variables;
        const auto set = [&](const char* name, const std::string& value) {
            variables.emplace_back(name, value);
        };
        set("HOME", home.path().string());
        set("XDG_RUNTIME_DIR", runtime.string());
        set("XDG_CONFIG_HOME", (home.path() / "config").string());
        set("XDG_STATE_HOME", (home.path() / "state").string());
        set("XDG_CACHE_HOME", (home.path() / "cache").string());
        set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home.path() / "no-bus").string());
        set("QUAYLET_API_URL", "http://127.0.0.1:9");
        set("QUAYLET_UPDATE_FEED", "");
        set("QT_QPA_PLATFORM", "offscreen");
        set("QT_LOGGING_RULES", "quaylet.links.info=true");
        return variables;
    }();
};

TEST_F(SingleInstanceTest, LaterStartsHandTheirLinksToTheRunningOneInOrder) {
    AppProcess primary(home.path() / "primary.log", {"quaylet://preview/first"});
    ASSERT_TRUE(primary.waitForLine(openedLine("quaylet://preview/first")));

    const int status = runToEnd({"quaylet://preview/second", "quaylet://auth?code=secret"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // A start without links is acknowledged too, and opens nothing.
    EXPECT_EQ(runToEnd({}), status);

    // The sign-in code stays out of the log.
    EXPECT_EQ(openedLinks(primary.log()),
              (std::vector<std::string>{"quaylet://preview/first", "quaylet://preview/second",
                                        "quaylet://auth"}));
}

TEST_F(SingleInstanceTest, AStartAfterACrashBecomesTheRunningOne) {
    {
        AppProcess crashed(home.path() / "crashed.log", {"quaylet://preview/first"});
        ASSERT_TRUE(crashed.waitForLine(openedLine("quaylet://preview/first")));
        crashed.stop(SIGKILL);
    }
    ASSERT_TRUE(std::filesystem::exists(runtime / "quaylet-app.lock"));

    AppProcess primary(home.path() / "primary.log", {"quaylet://preview/after-crash"});
    ASSERT_TRUE(primary.waitForLine(openedLine("quaylet://preview/after-crash")));
    const int status = runToEnd({"quaylet://preview/handed-over"});
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(openedLinks(primary.log()),
              (std::vector<std::string>{"quaylet://preview/after-crash",
                                        "quaylet://preview/handed-over"}));
}

}  // namespace
}  // namespace quaylet
