#pragma once

#include <string>
#include <vector>

#include "core/support/LaunchTimeline.h"

namespace quaylet {

// "2.1 s" under ten seconds, "24 s" under a minute, "2 min 5 s" beyond.
std::string formatStepDuration(double seconds);

// The step as a person names it: "Download", "Archive check", "Start", …
std::string stepLabel(LaunchStep step);

// A launch that ran, in one line: "Downloaded 1.1 GB in 24 s · Prepared in 2.1 s · Started
// iPhone 16 Pro in 6.0 s · Installed in 2.3 s · Opened in 1.2 s". A part whose steps were not
// taken (a cached build, a device already running) is left out.
std::string timelineSummary(const std::vector<TimelineEntry>& entries);

// Where a launch that failed stopped, "Stopped at Install on iPhone 16 Pro", and each step
// before it with its duration, "Build details 0.3 s · Download 24 s · …". Empty texts when no
// step failed.
struct TimelineStop {
    std::string stoppedAt = {};
    std::string stepsBefore = {};
};
TimelineStop timelineStop(const std::vector<TimelineEntry>& entries);

}  // namespace quaylet
