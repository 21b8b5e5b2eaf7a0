#include "app/LaunchStages.h"

namespace quaylet {
namespace {

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

BuildPlatform platform(bool android) {
    return android ? BuildPlatform::android : BuildPlatform::iosSimulator;
}

}  // namespace

QString LaunchStages::title(LaunchStageKeys::Key stage, bool android) {
    return text(quaylet::title(LaunchStage(stage), platform(android)));
}

int LaunchStages::step(LaunchStageKeys::Key stage, LaunchSourceKeys::Key source) {
    return launchStep(LaunchStage(stage), LaunchSource(source));
}

QString LaunchStages::stepTitle(int step, LaunchSourceKeys::Key source) {
    return text(quaylet::stepTitle(step, LaunchSource(source)));
}

QString LaunchStages::stepDetail(LaunchStageKeys::Key stage, bool android) {
    return text(quaylet::stepDetail(LaunchStage(stage), platform(android)));
}

QString LaunchStages::accessibilityValue(LaunchStageKeys::Key stage, LaunchSourceKeys::Key source,
                                         bool android) {
    return text(
        progressAccessibilityValue(LaunchStage(stage), LaunchSource(source), platform(android)));
}

}  // namespace quaylet
