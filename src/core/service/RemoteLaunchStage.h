#pragma once

#include <array>

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

}  // namespace quaylet
