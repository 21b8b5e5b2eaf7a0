#include "core/service/RemoteLaunchStage.h"

namespace quaylet {

std::string_view title(RemoteLaunchStage stage) {
    switch (stage) {
        case RemoteLaunchStage::fetching:
            return "Checking Access";
        case RemoteLaunchStage::downloading:
            return "Downloading";
        case RemoteLaunchStage::verifying:
            return "Verifying";
        case RemoteLaunchStage::extracting:
            return "Preparing Build";
        case RemoteLaunchStage::selecting:
            return "Choosing Simulator";
        case RemoteLaunchStage::booting:
            return "Starting Simulator";
        case RemoteLaunchStage::installing:
            return "Installing";
        case RemoteLaunchStage::launching:
            return "Opening";
        case RemoteLaunchStage::running:
            return "Running";
    }
    return {};
}

std::optional<RemoteLaunchStage> remoteLaunchStageFromTitle(std::string_view text) {
    for (const RemoteLaunchStage stage : kAllRemoteLaunchStages) {
        if (title(stage) == text) {
            return stage;
        }
    }
    return std::nullopt;
}

}  // namespace quaylet
