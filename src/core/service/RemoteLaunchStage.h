#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace quaylet {

// The stages a launch reports to its caller, in the order they happen.
enum class RemoteLaunchStage {
    fetching,
    downloading,
    verifying,
    extracting,
    selecting,
    booting,
    installing,
    launching,
    running,
};

inline constexpr std::array kAllRemoteLaunchStages = {
    RemoteLaunchStage::fetching,   RemoteLaunchStage::downloading, RemoteLaunchStage::verifying,
    RemoteLaunchStage::extracting, RemoteLaunchStage::selecting,   RemoteLaunchStage::booting,
    RemoteLaunchStage::installing, RemoteLaunchStage::launching,   RemoteLaunchStage::running,
};

// The caption shown to the user, which doubles as the stage's raw value.
std::string_view title(RemoteLaunchStage stage);

// The stage whose title is exactly this text.
std::optional<RemoteLaunchStage> remoteLaunchStageFromTitle(std::string_view title);

}  // namespace quaylet
