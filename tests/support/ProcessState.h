#pragma once

#include <sys/types.h>

namespace quaylet::testing {

// Whether the process still runs. One that has exited counts as gone even before anybody
// reaps it, since an orphan's reaper may be slow or absent in a container.
bool isRunning(pid_t pid);

}  // namespace quaylet::testing
