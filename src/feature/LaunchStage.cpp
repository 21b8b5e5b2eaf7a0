#include "feature/LaunchStage.h"

#include <algorithm>

namespace quaylet {
namespace {

struct StageFacts {
    std::string_view title;
    std::string_view stepDetail;
    double progress;
    int localStep;
    int otherStep;
};

constexpr StageFacts facts(LaunchStage stage) {
    switch (stage) {
        case LaunchStage::idle:
            return {"Ready", "Ready", 0.0, 0, 0};
        case LaunchStage::fetching:
            return {"Getting the build", "Getting the build", 0.08, 1, 1};
        case LaunchStage::downloading:
            return {"Getting the build", "Getting the build", 0.2, 1, 2};
        case LaunchStage::verifying:
            return {"Getting ready", "Getting ready", 0.34, 1, 3};
        case LaunchStage::extracting:
            return {"Getting ready", "Getting ready", 0.46, 1, 3};
        case LaunchStage::inspecting:
            return {"Getting ready", "Getting ready", 0.54, 1, 3};
        case LaunchStage::selecting:
            return {"Choosing a Simulator", "Choosing a Simulator", 0.62, 2, 3};
        case LaunchStage::booting:
            return {"Starting Simulator", "Starting Simulator", 0.7, 3, 3};
        case LaunchStage::installing:
            return {"Installing", "Installing app", 0.8, 4, 4};
        case LaunchStage::launching:
            return {"Opening", "Opening app", 0.92, 5, 5};
        case LaunchStage::running:
            return {"Running", "Complete", 1.0, 5, 5};
    }
    return {"Ready", "Ready", 0.0, 0, 0};
}

// How an Android build's stages name its device, where they name one.
constexpr std::optional<std::string_view> emulatorWording(LaunchStage stage,
                                                          BuildPlatform platform) {
    if (platform != BuildPlatform::android) {
        return std::nullopt;
    }
    switch (stage) {
        case LaunchStage::selecting:
            return "Choosing an emulator";
        case LaunchStage::booting:
            return "Starting the emulator";
        default:
            return std::nullopt;
    }
}

// A build from disk has nothing to find or get, so its first steps are its own.
constexpr std::array<std::string_view, kLaunchStepCount> kLocalStepTitles = {
    "Inspect", "Choose", "Start", "Install", "Open"};
constexpr std::array<std::string_view, kLaunchStepCount> kRemoteStepTitles = {
    "Find", "Get", "Ready", "Install", "Open"};

}  // namespace

std::string_view rawValue(LaunchSource source) {
    switch (source) {
        case LaunchSource::none:
            return "none";
        case LaunchSource::local:
            return "local";
        case LaunchSource::remote:
            return "remote";
    }
    return "none";
}

std::string_view title(LaunchStage stage, BuildPlatform platform) {
    return emulatorWording(stage, platform).value_or(facts(stage).title);
}

std::string_view stepDetail(LaunchStage stage, BuildPlatform platform) {
    return emulatorWording(stage, platform).value_or(facts(stage).stepDetail);
}

std::string_view stepTitle(int step, LaunchSource source) {
    if (step < 1 || step > kLaunchStepCount) {
        return {};
    }
    const auto& titles = source == LaunchSource::local ? kLocalStepTitles : kRemoteStepTitles;
    return titles[static_cast<std::size_t>(step - 1)];
}

double progress(LaunchStage stage) {
    return facts(stage).progress;
}

double launchProgress(LaunchStage stage, std::int64_t received, std::int64_t expected) {
    if (stage != LaunchStage::downloading || expected <= 0 || received <= 0) {
        return progress(stage);
    }
    const double share = progress(LaunchStage::verifying) - progress(LaunchStage::downloading);
    return progress(stage) + share * std::min(1.0, double(received) / double(expected));
}

int launchStep(LaunchStage stage, LaunchSource source) {
    return source == LaunchSource::local ? facts(stage).localStep : facts(stage).otherStep;
}

std::string progressAccessibilityValue(LaunchStage stage, LaunchSource source,
                                       BuildPlatform platform) {
    return std::string(title(stage, platform)) + ", step " +
           std::to_string(launchStep(stage, source)) + " of " + std::to_string(kLaunchStepCount);
}

std::optional<LaunchStage> launchStage(RemoteLaunchStage reported, LaunchSource source) {
    const bool local = source == LaunchSource::local;
    switch (reported) {
        case RemoteLaunchStage::fetching:
            return local ? std::nullopt : std::optional(LaunchStage::fetching);
        case RemoteLaunchStage::downloading:
            return local ? std::nullopt : std::optional(LaunchStage::downloading);
        case RemoteLaunchStage::verifying:
            return local ? std::nullopt : std::optional(LaunchStage::verifying);
        case RemoteLaunchStage::extracting:
            return local ? std::nullopt : std::optional(LaunchStage::extracting);
        case RemoteLaunchStage::selecting:
            return LaunchStage::selecting;
        case RemoteLaunchStage::booting:
            return LaunchStage::booting;
        case RemoteLaunchStage::installing:
            return LaunchStage::installing;
        case RemoteLaunchStage::launching:
            return LaunchStage::launching;
        case RemoteLaunchStage::running:
            return LaunchStage::running;
    }
    return std::nullopt;
}

}  // namespace quaylet
