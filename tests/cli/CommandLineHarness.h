#pragma once

// The quaylet program as a person in a terminal runs it, in throwaway folders of its own,
// against this test's loopback preview service and private keyring.
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/process/ProcessRunner.h"
#include "support/ChildProcess.h"
#include "support/DevServiceProcess.h"
#include "support/PrivateSecretService.h"
#include "support/TemporaryDirectory.h"

namespace quaylet::testing {

// Reads from descriptor until text has arrived, or the writer has gone, and returns it all.
inline std::string readUntil(int descriptor, const std::string& text) {
    std::string received;
    while (received.find(text) == std::string::npos) {
        pollfd ready{descriptor, POLLIN, 0};
        char buffer[4096];
        const ssize_t count =
            ::poll(&ready, 1, 60'000) == 1 ? ::read(descriptor, buffer, sizeof buffer) : 0;
        if (count <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(count));
    }
    return received;
}

class CommandLineHarness : public ::testing::Test {
  protected:
    // A demo build of the service, made by quaylet-devservice with the extra arguments.
    void publish(const std::string& previewID, const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> arguments{"make-demo-build", builds.path().string(),
                                           "--preview-id", previewID};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ProcessRunner().runChecked({DevServiceProcess::program(), arguments}, {});
    }

    void editManifest(const std::string& previewID, const nlohmann::json& changes) const {
        const auto file = builds.path() / previewID / "manifest.json";
        nlohmann::json manifest = nlohmann::json::parse(std::ifstream(file));
        manifest.update(changes);
        std::ofstream(file) << manifest.dump();
    }

    // An environment of its own: throwaway folders for everything a user keeps, this test's
    // service and keyring, and what the test adds.
    Environment environment(const std::optional<std::string>& serviceURL = std::nullopt) const {
        const auto& home = user.path();
        Environment variables = {
            {"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_STATE_HOME", (home / "state").string()},
            {"XDG_CACHE_HOME", (home / "cache").string()},
            {"QUAYLET_SIMULATOR_HOME", (home / "simulator").string()},
            {"QUAYLET_API_URL", serviceURL.value_or(service.baseURL())},
            {"DBUS_SESSION_BUS_ADDRESS", keyring.busAddress()},
        };
        variables.insert(added.begin(), added.end());
        return variables;
    }

    ProcessResult quaylet(std::vector<std::string> arguments,
                          const std::optional<std::string>& serviceURL = std::nullopt) const {
        return ProcessRunner().run({QUAYLET_CLI_PROGRAM, std::move(arguments)}, {},
                                   environment(serviceURL));
    }

    // Starts quaylet (env execs it in the same process) as a child whose output the test reads
    // as it comes; returns the child and the reading end of both its streams, as a terminal
    // shows them.
    std::pair<pid_t, int> start(const std::vector<std::string>& arguments,
                                Environment extra = {}) const {
        extra.merge(environment());
        std::vector<std::string> command{"env"};
        for (const auto& [name, value] : extra) {
            command.push_back(name + "=" + value);
        }
        command.push_back(QUAYLET_CLI_PROGRAM);
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto [output, outputWrite] = ChildProcess::pipe();
        const pid_t child = ChildProcess::start(command, -1, outputWrite, outputWrite);
        ::close(outputWrite);
        return {child, output};
    }

    // Ctrl-C: returns all the child printed and its exit status (-1 when a signal ended it).
    static std::pair<std::string, int> interrupt(pid_t child, int output) {
        ::kill(child, SIGINT);
        std::string printed = readUntil(output, "\x01");  // everything up to the end
        ::close(output);
        const int status = ChildProcess::wait(child);
        return {printed, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

    // What the browser would be sent to by the service's sign-in page.
    std::string signInLink() const {
        const auto answer =
            httplib::Client(service.baseURL()).Get("/api/v1/auth/github?client=mac");
        return answer ? answer->get_header_value("Location") : std::string();
    }

    void signIn() const {
        ASSERT_EQ(quaylet({"sign-in", "--no-browser"}).status, 0);
        ASSERT_EQ(quaylet({"open", signInLink()}).status, 0);
    }

    PrivateSecretService keyring;
    TemporaryDirectory user;
    TemporaryDirectory builds;
    DevServiceProcess service{builds.path()};
    Environment added;  // set before the first command
};

}  // namespace quaylet::testing
