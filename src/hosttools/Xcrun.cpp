#include <iostream>

#include "hosttools/Tools.h"

namespace quaylet::hosttools {
namespace {

constexpr const char* kUsage =
    "Usage: xcrun [--find] <tool name> [<arguments> ...]\n"
    "The only developer tool here is simctl.";

ToolFailure unknownUtility(const std::string& name) {
    return ToolFailure(72, "xcrun: error: unable to find utility \"" + name +
                               "\", not a developer tool or in PATH");
}

}  // namespace

int runXcrun(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    if (arguments.empty()) {
        throw ToolFailure(1, kUsage);
    }
    const std::string& first = arguments.front();
    if (first == "--find" || first == "-f") {
        if (arguments.size() != 2) {
            throw ToolFailure(1, kUsage);
        }
        if (arguments[1] != "simctl") {
            throw unknownUtility(arguments[1]);
        }
        std::cout << (hostToolsDirectory() / "simctl").string() << '\n';
        return 0;
    }
    if (first == "simctl") {
        return runSimctl({invocation.program, {arguments.begin() + 1, arguments.end()}});
    }
    if (first.starts_with("-")) {
        throw ToolFailure(1, "xcrun: error: unrecognized option: " + first + "\n" + kUsage);
    }
    throw unknownUtility(first);
}

}  // namespace quaylet::hosttools
