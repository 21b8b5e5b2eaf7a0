#include "core/support/LaunchTimeline.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

namespace quaylet {
namespace {

thread_local LaunchTimeline* capturingTimeline = nullptr;

std::string_view stateName(StepState state) {
    switch (state) {
        case StepState::running:
            return "running";
        case StepState::done:
            return "done";
        case StepState::failed:
            return "failed";
    }
    return "running";
}

nlohmann::ordered_json entryJson(const TimelineEntry& entry) {
    nlohmann::ordered_json json{{"step", launchStepName(entry.step)},
                                {"start", entry.start},
                                {"duration", entry.duration},
                                {"state", stateName(entry.state)}};
    if (!entry.device.empty()) {
        json["device"] = entry.device;
    }
    if (!entry.detail.empty()) {
        json["detail"] = entry.detail;
    }
    if (entry.bytes) {
        json["bytes"] = *entry.bytes;
        if (entry.duration > 0) {
            json["bytesPerSecond"] = static_cast<double>(*entry.bytes) / entry.duration;
        }
    }
    if (!entry.rungs.empty()) {
        nlohmann::ordered_json& rungs = json["rungs"] = nlohmann::ordered_json::array();
        for (const TimelineEntry& rung : entry.rungs) {
            rungs.push_back(entryJson(rung));
        }
    }
    return json;
}

}  // namespace

std::string_view launchStepName(LaunchStep step) {
    switch (step) {
        case LaunchStep::manifest:
            return "manifest";
        case LaunchStep::download:
            return "download";
        case LaunchStep::verification:
            return "verification";
        case LaunchStep::archiveCheck:
            return "archiveCheck";
        case LaunchStep::unpack:
            return "unpack";
        case LaunchStep::inspection:
            return "inspection";
        case LaunchStep::selection:
            return "selection";
        case LaunchStep::boot:
            return "boot";
        case LaunchStep::install:
            return "install";
        case LaunchStep::launch:
            return "launch";
        case LaunchStep::installedCopyCheck:
            return "installedCopyCheck";
        case LaunchStep::simulatorWindow:
            return "simulatorWindow";
    }
    return "manifest";
}

LaunchTimeline::Step::Step(LaunchTimeline* timeline, std::size_t index,
                           std::optional<std::size_t> rung)
    : timeline_(timeline),
      index_(index),
      rung_(rung),
      uncaughtAtStart_(std::uncaught_exceptions()) {}

LaunchTimeline::Step::Step(Step&& other) noexcept
    : timeline_(std::exchange(other.timeline_, nullptr)),
      index_(other.index_),
      rung_(other.rung_),
      uncaughtAtStart_(other.uncaughtAtStart_),
      ended_(other.ended_),
      duration_(other.duration_) {}

LaunchTimeline::Step::~Step() {
    end(std::uncaught_exceptions() > uncaughtAtStart_ ? StepState::failed : StepState::done);
}

LaunchTimeline::Step LaunchTimeline::Step::rung(std::string detail) {
    const std::lock_guard lock(timeline_->mutex_);
    TimelineEntry& parent = timeline_->entries_.at(index_);
    parent.rungs.push_back(TimelineEntry{.step = parent.step,
                                         .device = parent.device,
                                         .detail = std::move(detail),
                                         .start = timeline_->secondsSinceStart()});
    return Step(timeline_, index_, parent.rungs.size() - 1);
}

void LaunchTimeline::Step::setBytes(std::uint64_t bytes) {
    const std::lock_guard lock(timeline_->mutex_);
    timeline_->entryAt(index_, rung_).bytes = bytes;
}

double LaunchTimeline::Step::finish() {
    end(StepState::done);
    return duration_;
}

void LaunchTimeline::Step::fail() {
    end(StepState::failed);
}

void LaunchTimeline::Step::end(StepState state) {
    if (timeline_ == nullptr || ended_) {
        return;
    }
    ended_ = true;
    const std::lock_guard lock(timeline_->mutex_);
    TimelineEntry& entry = timeline_->entryAt(index_, rung_);
    entry.duration = duration_ = timeline_->secondsSinceStart() - entry.start;
    entry.state = state;
}

LaunchTimeline::LaunchTimeline() : began_(Clock::now()) {}

LaunchTimeline::Step LaunchTimeline::begin(LaunchStep step, std::string device) {
    const std::lock_guard lock(mutex_);
    entries_.push_back(
        TimelineEntry{.step = step, .device = std::move(device), .start = secondsSinceStart()});
    return Step(this, entries_.size() - 1, std::nullopt);
}

void LaunchTimeline::add(TimelineEntry entry) {
    const std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

LaunchTimeline::CommandCapture::CommandCapture(LaunchTimeline* timeline)
    : previous_(capturingTimeline) {
    if (timeline != nullptr) {
        capturingTimeline = timeline;
    }
}

LaunchTimeline::CommandCapture::~CommandCapture() {
    capturingTimeline = previous_;
}

void LaunchTimeline::noteCommand(const ProcessResult& result) {
    LaunchTimeline* timeline = capturingTimeline;
    if (timeline == nullptr) {
        return;
    }
    const std::lock_guard lock(timeline->mutex_);
    const double end = timeline->secondsSinceStart();
    timeline->commands_.push_back(CommandRecord{.executable = result.executable,
                                                .arguments = result.arguments,
                                                .status = result.status,
                                                .start = end - result.duration,
                                                .duration = result.duration});
}

std::vector<TimelineEntry> LaunchTimeline::entries() const {
    const std::lock_guard lock(mutex_);
    std::vector<TimelineEntry> entries = entries_;
    const double now = secondsSinceStart();
    const auto settle = [now](TimelineEntry& entry) {
        if (entry.state == StepState::running) {
            entry.duration = now - entry.start;
        }
    };
    for (TimelineEntry& entry : entries) {
        settle(entry);
        for (TimelineEntry& rung : entry.rungs) {
            settle(rung);
        }
    }
    return entries;
}

std::vector<CommandRecord> LaunchTimeline::commands() const {
    const std::lock_guard lock(mutex_);
    return commands_;
}

nlohmann::ordered_json LaunchTimeline::toJson() const {
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (const TimelineEntry& entry : entries()) {
        steps.push_back(entryJson(entry));
    }
    nlohmann::ordered_json commands = nlohmann::ordered_json::array();
    for (const CommandRecord& command : this->commands()) {
        commands.push_back({{"executable", command.executable},
                            {"arguments", command.arguments},
                            {"status", command.status},
                            {"start", command.start},
                            {"duration", command.duration}});
    }
    return {{"steps", std::move(steps)}, {"commands", std::move(commands)}};
}

double LaunchTimeline::secondsSinceStart() const {
    return std::chrono::duration<double>(Clock::now() - began_).count();
}

TimelineEntry& LaunchTimeline::entryAt(std::size_t index, std::optional<std::size_t> rung) {
    TimelineEntry& entry = entries_.at(index);
    return rung ? entry.rungs.at(*rung) : entry;
}

}  // namespace quaylet
