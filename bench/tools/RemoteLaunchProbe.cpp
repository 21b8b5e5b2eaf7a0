// quaylet-remote-launch-probe BASE_URL TOKEN PREVIEW_ID CACHE_ROOT
// Runs one remote launch up to the simulator's part and prints the process's peak resident
// memory as "peak_kib N". A process of its own, so that only the launch counts: VmHWM of an
// exec'd program starts afresh, while ru_maxrss would carry over the peak of the process that
// started it.
#include <fstream>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>

#include "LaunchUntilSelecting.h"

namespace {

long peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    throw std::runtime_error("/proc/self/status has no VmHWM line");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: quaylet-remote-launch-probe BASE_URL TOKEN PREVIEW_ID CACHE_ROOT\n";
        return 2;
    }
    try {
        const quaylet::RemotePreviewLauncher launcher(argv[1], std::filesystem::path(argv[4]));
        launcher.startNetwork();
        const double seconds = quaylet::bench::launchUntilSelecting(
            launcher, {.previewID = argv[3], .token = argv[2]});
        std::cout << "seconds " << seconds << "\npeak_kib " << peakResidentKiB() << '\n';
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quaylet-remote-launch-probe: " << error.what() << '\n';
        return 1;
    }
}
