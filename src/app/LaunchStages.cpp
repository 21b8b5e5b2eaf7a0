#include "app/LaunchStages.h"

#include "feature/LaunchStage.h"

namespace quaylet {
namespace {

// The launch only ever publishes known stages; anything else reads as idle.
LaunchStage stageFrom(const QString& rawValue) {
    return launchStageFromRawValue(rawValue.toStdString()).value_or(LaunchStage::idle);
}

LaunchSource sourceFrom(const QString& rawValue) {
    if (rawValue == QLatin1String("local")) {
        return LaunchSource::local;
    }
    return rawValue == QLatin1String("remote") ? LaunchSource::remote : LaunchSource::none;
}

QString text(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

}  // namespace

QString LaunchStages::title(const QString& stage) {
    return text(quaylet::title(stageFrom(stage)));
}

int LaunchStages::step(const QString& stage, const QString& source) {
    return launchStep(stageFrom(stage), sourceFrom(source));
}

QString LaunchStages::accessibilityValue(const QString& stage, const QString& source) {
    return text(progressAccessibilityValue(stageFrom(stage), sourceFrom(source)));
}

}  // namespace quaylet
