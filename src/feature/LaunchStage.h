#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/service/RemoteLaunchStage.h"

namespace quaylet {

// How far a launch has come, as the interface shows it.
enum class LaunchStage {
    idle,
    fetching,
    downloading,
    verifying,
    extracting,
    inspecting,
    selecting,
    booting,
    installing,
    launching,
    running,
};

// Where the current launch's build came from.
enum class LaunchSource { none, local, remote };

inline constexpr int kLaunchStepCount = 5;

inline constexpr std::array kAllLaunchStages = {
    LaunchStage::idle,      LaunchStage::fetching,   LaunchStage::downloading,
    LaunchStage::verifying, LaunchStage::extracting, LaunchStage::inspecting,
    LaunchStage::selecting, LaunchStage::booting,    LaunchStage::installing,
    LaunchStage::launching, LaunchStage::running,
};

std::string_view rawValue(LaunchStage stage);
std::optional<LaunchStage> launchStageFromRawValue(std::string_view rawValue);

std::string_view title(LaunchStage stage);

// Fraction of the whole launch in [0, 1]; rises strictly with the stage.
double progress(LaunchStage stage);

// The launch's overall fraction, the one every progress bar shows: the stage's, and while
// downloading, the part of the download's share (up to where verifying starts) that the bytes
// received out of those expected fill.
double launchProgress(LaunchStage stage, std::int64_t received, std::int64_t expected);

// Which of the five pipeline steps the stage belongs to (0 when idle).
int launchStep(LaunchStage stage, LaunchSource source);

// The progress bar's accessibility value, such as "Ready, step 0 of 5".
std::string progressAccessibilityValue(LaunchStage stage, LaunchSource source);

// The stage a core report moves a launch of the given source to; absent when the report
// does not apply (a local launch has no download, verification or extraction).
std::optional<LaunchStage> launchStage(RemoteLaunchStage reported, LaunchSource source);

}  // namespace quaylet
