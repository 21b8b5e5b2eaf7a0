#include "hosttools/DeviceSetStore.h"
#include "hosttools/Tools.h"

namespace quaylet::hosttools {

int runOpen(const Invocation& invocation) {
    const std::vector<std::string>& arguments = invocation.arguments;
    if (arguments.size() != 2 || arguments[0] != "-a") {
        throw ToolFailure(1, "Usage: open -a <application>");
    }
    if (arguments[1] != "Simulator") {
        throw ToolFailure(1, "Unable to find application named '" + arguments[1] + "'");
    }
    // There is no window to bring forward; the set remembers the request so callers can be
    // checked.
    DeviceSetStore(DeviceSetStore::defaultHome()).update([](DeviceSet& set) {
        ++set.simulatorActivations;
    });
    return 0;
}

}  // namespace quaylet::hosttools
