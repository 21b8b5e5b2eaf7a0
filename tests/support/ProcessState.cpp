#include "support/ProcessState.h"

#include <fstream>
#include <string>

namespace quaylet::testing {

bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    // The name is in parentheses and may not hold spaces for the programs tests start.
    if (!(stat >> pidField >> name >> state)) {
        return false;
    }
    return state != "Z";
}

}  // namespace quaylet::testing
