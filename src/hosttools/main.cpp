// One program standing in for the Mac developer tools; it acts as the tool whose name it was
// started under.
#include <clocale>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "hosttools/Tools.h"

namespace {

using namespace quaylet::hosttools;

struct Tool {
    std::string_view name;
    int (*run)(const Invocation&);
};

constexpr Tool kTools[] = {
    {"xcrun", runXcrun},       {"simctl", runSimctl}, {"xcode-select", runXcodeSelect},
    {"uname", runUname},       {"open", runOpen},     {"lipo", runLipo},
    {"zipinfo", runZipinfo},   {"ditto", runDitto},   {"adb", runAdb},
    {"emulator", runEmulator},
};

const Tool* findTool(std::string_view name) {
    for (const Tool& tool : kTools) {
        if (tool.name == name) {
            return &tool;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    // Archive names are bytes: under a UTF-8 locale the archive library passes them through
    // untouched instead of failing to convert them.
    std::setlocale(LC_CTYPE, "C.UTF-8");

    const std::string program = argc > 0 ? argv[0] : "quaylet-hosttools";
    const std::string name = std::filesystem::path(program).filename().string();
    const Tool* tool = findTool(name);
    if (tool == nullptr) {
        std::cerr << "quaylet-hosttools: run me through one of the tool links (";
        for (const Tool& known : kTools) {
            std::cerr << (&known == kTools ? "" : ", ") << known.name;
        }
        std::cerr << ")\n";
        return 64;
    }
    int status = 1;
    try {
        status = tool->run({program, {argv + 1, argv + argc}});
    } catch (const ToolFailure& failure) {
        std::cerr << failure.what() << '\n';
        status = failure.status();
    } catch (const std::exception& error) {
        std::cerr << name << ": " << error.what() << '\n';
        status = 1;
    }
    std::cout.flush();
    if (!std::cout && status == 0) {
        std::cerr << name << ": cannot write to standard output\n";
        return 1;
    }
    return status;
}
