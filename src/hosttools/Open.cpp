#include <filesystem>

#include "hosttools/DeviceSetStore.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {
namespace {

constexpr const char* kUsage =
    "Usage: open -a <application> [--args -CurrentDeviceUDID <UDID>] | open devices://<path>";

bool hasDeviceHub(const DeviceSet& set) {
    return set.xcode && set.xcode->simulatorWindow == kDeviceHubWindow;
}

// Throws the Mac tool's refusal unless this set's Mac could bring the window forward so.
void requireOpenable(const DeviceSet& set, const std::vector<std::string>& arguments) {
    if (arguments.size() == 1) {
        if (!hasDeviceHub(set)) {
            throw ToolFailure(1, "No application knows how to open URL " + arguments[0] + ".");
        }
        return;
    }
    const std::string& application = arguments[1];
    // Xcode 27 took Simulator.app away; only Device Hub remains.
    const bool found = application == "Simulator" ? !hasDeviceHub(set)
                                                  : application.ends_with(".app") &&
                                                        std::filesystem::is_directory(application);
    if (!found) {
        throw ToolFailure(1, "Unable to find application named '" + application + "'");
    }
}

}  // namespace

// There is no window to bring forward; the set records each request so callers can be checked.
int runOpen(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    const bool byURL = arguments.size() == 1 && arguments[0].starts_with("devices://");
    const bool byName = arguments.size() == 2 && arguments[0] == "-a";
    const bool forDevice = arguments.size() == 5 && arguments[0] == "-a" &&
                           arguments[2] == "--args" && arguments[3] == "-CurrentDeviceUDID";
    if (!byURL && !byName && !forDevice) {
        throw ToolFailure(1, kUsage);
    }
    DeviceSetStore(DeviceSetStore::defaultHome()).update([&](DeviceSet& set) {
        requireOpenable(set, arguments);
        std::string request;
        for (const std::string& argument : arguments) {
            request += (request.empty() ? "" : " ") + argument;
        }
        set.windowRequests.push_back(request);
    });
    return 0;
}

}  // namespace quaylet::hosttools
