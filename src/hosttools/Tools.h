#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace quaylet::hosttools {

struct Invocation {
    std::string program;                 // argv[0] as given, for messages that name the tool
    std::vector<std::string> arguments;  // without argv[0]
};

// A tool's refusal: the text goes to standard error as it is and the status is the exit status.
class ToolFailure : public std::runtime_error {
  public:
    ToolFailure(int status, const std::string& message)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

// The folder holding this program and its tool links.
std::filesystem::path hostToolsDirectory();

// One entry point per tool; each prints its results on standard output and returns the exit
// status, or throws ToolFailure.
int runXcrun(const Invocation& invocation);
int runSimctl(const Invocation& invocation);
int runXcodeSelect(const Invocation& invocation);
int runUname(const Invocation& invocation);
int runOpen(const Invocation& invocation);
int runLipo(const Invocation& invocation);
int runZipinfo(const Invocation& invocation);
int runDitto(const Invocation& invocation);
int runAdb(const Invocation& invocation);
int runEmulator(const Invocation& invocation);

}  // namespace quaylet::hosttools
