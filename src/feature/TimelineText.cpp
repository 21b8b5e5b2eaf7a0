#include "feature/TimelineText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "feature/DownloadProgress.h"

namespace quaylet {
namespace {

constexpr const char* kSeparator = " \u00B7 ";

void appendPart(std::string& line, const std::string& part) {
    if (!line.empty()) {
        line += kSeparator;
    }
    line += part;
}

double totalOf(const std::vector<TimelineEntry>& entries, std::initializer_list<LaunchStep> steps) {
    double total = 0;
    for (const TimelineEntry& entry : entries) {
        if (std::ranges::find(steps, entry.step) != steps.end()) {
            total += entry.duration;
        }
    }
    return total;
}

bool hasAny(const std::vector<TimelineEntry>& entries, std::initializer_list<LaunchStep> steps) {
    return std::ranges::any_of(entries, [&](const TimelineEntry& entry) {
        return std::ranges::find(steps, entry.step) != steps.end();
    });
}

}  // namespace

std::string formatStepDuration(double seconds) {
    char text[32];
    if (seconds < 9.95) {
        std::snprintf(text, sizeof text, "%.1f s", std::max(seconds, 0.0));
    } else if (seconds < 59.5) {
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    } else {
        const auto whole = static_cast<long long>(std::llround(seconds));
        std::snprintf(text, sizeof text, "%lld min %lld s", whole / 60, whole % 60);
    }
    return text;
}

std::string stepLabel(LaunchStep step) {
    switch (step) {
        case LaunchStep::manifest:
            return "Build details";
        case LaunchStep::download:
            return "Download";
        case LaunchStep::verification:
            return "Verification";
        case LaunchStep::archiveCheck:
            return "Archive check";
        case LaunchStep::unpack:
            return "Unpacking";
        case LaunchStep::inspection:
            return "Inspection";
        case LaunchStep::selection:
            return "Simulator choice";
        case LaunchStep::boot:
            return "Start";
        case LaunchStep::install:
            return "Install";
        case LaunchStep::launch:
            return "Launch";
        case LaunchStep::installedCopyCheck:
            return "Installed-copy check";
        case LaunchStep::simulatorWindow:
            return "Simulator window";
    }
    return {};
}

std::string timelineSummary(const std::vector<TimelineEntry>& entries) {
    std::string line;
    for (const TimelineEntry& entry : entries) {
        if (entry.step == LaunchStep::download && entry.state == StepState::done) {
            appendPart(line, "Downloaded " +
                                 (entry.bytes ? formatByteCount(*entry.bytes) + " " : "") + "in " +
                                 formatStepDuration(entry.duration));
        }
    }
    static constexpr std::initializer_list<LaunchStep> kPreparing{
        LaunchStep::manifest, LaunchStep::verification, LaunchStep::archiveCheck,
        LaunchStep::unpack,   LaunchStep::inspection,   LaunchStep::selection};
    if (hasAny(entries, kPreparing)) {
        appendPart(line, "Prepared in " + formatStepDuration(totalOf(entries, kPreparing)));
    }
    for (const TimelineEntry& entry : entries) {
        if (entry.step == LaunchStep::boot && entry.state == StepState::done) {
            appendPart(line,
                       "Started " + entry.device + " in " + formatStepDuration(entry.duration));
        }
    }
    if (hasAny(entries, {LaunchStep::install})) {
        appendPart(line,
                   "Installed in " + formatStepDuration(totalOf(entries, {LaunchStep::install})));
    }
    static constexpr std::initializer_list<LaunchStep> kOpening{LaunchStep::launch,
                                                                LaunchStep::installedCopyCheck};
    if (hasAny(entries, kOpening)) {
        appendPart(line, "Opened in " + formatStepDuration(totalOf(entries, kOpening)));
    }
    return line;
}

TimelineStop timelineStop(const std::vector<TimelineEntry>& entries) {
    // A failure ends the step in progress, so the last step is where a launch stopped.
    if (entries.empty() || entries.back().state == StepState::done) {
        return {};
    }
    const TimelineEntry& stopped = entries.back();
    TimelineStop stop{.stoppedAt = "Stopped at " + stepLabel(stopped.step)};
    if (!stopped.device.empty()) {
        stop.stoppedAt += " on " + stopped.device;
    }
    for (auto entry = entries.begin(); entry != std::prev(entries.end()); ++entry) {
        appendPart(stop.stepsBefore,
                   stepLabel(entry->step) + " " + formatStepDuration(entry->duration));
    }
    return stop;
}

}  // namespace quaylet
