#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/process/ProcessResult.h"

namespace quaylet {

// The steps of a launch, in the order a launch takes them.
enum class LaunchStep {
    manifest,
    download,
    verification,
    archiveCheck,
    unpack,
    inspection,
    selection,
    boot,
    install,
    launch,
    installedCopyCheck,
    simulatorWindow,
};

// The step's name in JSON documents and kept timelines: "manifest", "archiveCheck", …
std::string_view launchStepName(LaunchStep step);

enum class StepState { running, done, failed };

// One step as it was recorded, or one repair rung under it.
struct TimelineEntry {
    LaunchStep step = LaunchStep::manifest;
    std::string device = {};  // the device's name for the steps taken on one device
    std::string detail = {};  // a rung's sentence: "Restarting iPhone 16 Pro after a stuck start…"
    double start = 0;         // seconds since the launch began
    double duration = 0;      // seconds; up to now while the step still runs
    StepState state = StepState::running;
    std::optional<std::uint64_t> bytes = std::nullopt;  // what a download received
    std::vector<TimelineEntry> rungs = {};              // the repairs tried within this step

    bool operator==(const TimelineEntry&) const = default;
};

// One host command a launch ran, and how it ended.
struct CommandRecord {
    std::string executable;
    std::vector<std::string> arguments;
    std::int32_t status = 0;
    double start = 0;  // seconds since the launch began
    double duration = 0;

    bool operator==(const CommandRecord&) const = default;
};

// What one launch did and how long each part took: its steps with their repair rungs, and the
// host commands run for it. Shared by the threads of one launch; every member is safe to call
// concurrently.
//
//     LaunchTimeline::Step boot = timeline.begin(LaunchStep::boot, device.name);
//     …
//     LaunchTimeline::Step retry = boot.rung("Restarting iPhone 16 Pro after a stuck start…");
//
// A step ends when its handle is finished or destroyed: failed when an exception leaves the
// handle's scope, done otherwise.
class LaunchTimeline {
  public:
    using Clock = std::chrono::steady_clock;

    class Step {
      public:
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        Step(Step&& other) noexcept;
        Step& operator=(Step&&) = delete;
        ~Step();

        // A repair rung under this step, timed from now until its handle ends.
        Step rung(std::string detail);

        void setBytes(std::uint64_t bytes);

        // Ends the step as done (or failed) now; later calls change nothing. Returns its
        // duration in seconds.
        double finish();
        void fail();

      private:
        friend class LaunchTimeline;
        Step(LaunchTimeline* timeline, std::size_t index, std::optional<std::size_t> rung);
        void end(StepState state);

        LaunchTimeline* timeline_;
        std::size_t index_;
        std::optional<std::size_t> rung_;
        int uncaughtAtStart_;
        bool ended_ = false;
        double duration_ = 0;
    };

    LaunchTimeline();
    LaunchTimeline(const LaunchTimeline&) = delete;
    LaunchTimeline& operator=(const LaunchTimeline&) = delete;

    // Starts a step now; device names the device it is taken on, if any.
    Step begin(LaunchStep step, std::string device = {});

    // Adds an entry exactly as given, as a replayed or simulated launch has it.
    void add(TimelineEntry entry);

    // While alive, every host command that ProcessRunner finishes on this thread is recorded
    // in the timeline: a launch's commands are run by several collaborators, each with a
    // runner of its own. Scopes nest; the innermost one with a timeline records.
    class CommandCapture {
      public:
        explicit CommandCapture(LaunchTimeline* timeline);
        CommandCapture(const CommandCapture&) = delete;
        CommandCapture& operator=(const CommandCapture&) = delete;
        ~CommandCapture();

      private:
        LaunchTimeline* previous_;
    };
    // Called by ProcessRunner for each finished command.
    static void noteCommand(const ProcessResult& result);

    std::vector<TimelineEntry> entries() const;
    std::vector<CommandRecord> commands() const;

    // {"steps": [...], "commands": [...]}: each step with "step", "start", "duration",
    // "state" and, where they apply, "device", "detail", "bytes", "bytesPerSecond", "rungs".
    nlohmann::ordered_json toJson() const;

  private:
    double secondsSinceStart() const;
    TimelineEntry& entryAt(std::size_t index, std::optional<std::size_t> rung);

    const Clock::time_point began_;
    mutable std::mutex mutex_;
    std::vector<TimelineEntry> entries_;
    std::vector<CommandRecord> commands_;
};

}  // namespace quaylet
