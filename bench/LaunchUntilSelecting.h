#pragma once

#include <stdexcept>

#include "BenchSupport.h"
#include "core/service/RemotePreviewLauncher.h"

namespace quaylet::bench {

// Seconds from calling launch() until it reports `selecting`: by then the manifest is
// fetched and the archive downloaded (or reused), verified, unpacked and inspected, and only
// the simulator's part is left. The progress callback ends the launch there by throwing a
// type of its own, which nothing in the launcher catches; unlike a stop request, it starts no
// simulator tool at all and cannot be mistaken for a real failure.
inline double launchUntilSelecting(const RemotePreviewLauncher& launcher,
                                   const RemoteLaunchRequest& request) {
    struct ReachedSelecting {};
    const auto start = Clock::now();
    double elapsed = 0;
    try {
        launcher.launch(request, {},
                        [&](RemoteLaunchStage stage) {
                            if (stage == RemoteLaunchStage::selecting) {
                                elapsed = secondsSince(start);
                                throw ReachedSelecting{};
                            }
                        },
                        {});
    } catch (const ReachedSelecting&) {
        return elapsed;
    }
    throw std::logic_error("the launch finished without reporting the selecting stage");
}

}  // namespace quaylet::bench
