#pragma once

#include <sys/types.h>

#include <fstream>
#include <string>

namespace quaylet::testing {

// Whether the process still runs. One that has exited counts as gone even before anybody
// reaps it, since an orphan's reaper may be slow or absent in a container.
inline bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    // The name is in parentheses and may not hold spaces for the programs tests start.
    return (stat >> pidField >> name >> state) && state != "Z";
}

}  // namespace quaylet::testing
