#include <iostream>

#include "hosttools/Tools.h"

namespace quaylet::hosttools {
namespace {

constexpr const char* kUsage =
    "Usage: xcode-select [options]\n"
    "\n"
    "Print the path of the active developer directory.\n"
    "\n"
    "Options:\n"
    "  -h, --help                  print this help message and exit\n"
    "  -p, --print-path            print the path of the active developer directory";

}  // namespace

int runXcodeSelect(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    if (arguments.size() != 1) {
        throw ToolFailure(
            1, std::string(arguments.empty() ? "xcode-select: error: no command option given.\n"
                                             : "xcode-select: error: give one option.\n") +
                   kUsage);
    }
    const std::string& option = arguments.front();
    if (option == "-p" || option == "--print-path") {
        // The stand-ins are the whole developer directory.
        std::cout << hostToolsDirectory().string() << '\n';
        return 0;
    }
    if (option == "-h" || option == "--help") {
        std::cout << kUsage << '\n';
        return 0;
    }
    throw ToolFailure(1,
                      "xcode-select: error: unknown command option '" + option + "'.\n" + kUsage);
}

}  // namespace quaylet::hosttools
