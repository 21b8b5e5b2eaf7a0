#include <fstream>
#include <iostream>

#include "hosttools/DeviceSetStore.h"
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

// Lays out the set's Xcode afresh under the home folder, with the simulator window's
// application where that kind of Xcode keeps it, and returns its developer folder.
std::filesystem::path layOutXcode(const std::filesystem::path& home, const SimulatedXcode& xcode) {
    const std::filesystem::path contents = home / "Xcode.app" / "Contents";
    std::filesystem::remove_all(contents.parent_path());
    std::filesystem::create_directories(contents / "Developer");
    std::ofstream(contents / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleIdentifier</key>\n\t<string>com.apple.dt.Xcode</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>"
        << xcode.version << "</string>\n</dict>\n</plist>\n";
    if (xcode.simulatorWindow == kDeviceHubWindow) {
        std::filesystem::create_directories(contents / "Applications" / "DeviceHub.app");
    } else if (xcode.simulatorWindow == kSimulatorAppWindow) {
        std::filesystem::create_directories(contents / "Developer" / "Applications" /
                                            "Simulator.app");
    }
    return contents / "Developer";
}

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
        // Without an Xcode of its own, the set's developer directory is the stand-ins' folder.
        std::filesystem::path developer = hostToolsDirectory();
        const DeviceSetStore store(DeviceSetStore::defaultHome());
        store.update([&](const DeviceSet& set) {
            if (set.xcode) {
                developer = layOutXcode(store.home(), *set.xcode);
            }
        });
        std::cout << developer.string() << '\n';
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
