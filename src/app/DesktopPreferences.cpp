#include "app/DesktopPreferences.h"

#include "app/ReducedMotionSetting.h"

namespace quaylet {

DesktopPreferences::DesktopPreferences(QObject* parent) : QObject(parent) {
    watch_ = followDesktopAnimations([this](bool reduce) {
        if (reduce != reduceMotion_) {
            reduceMotion_ = reduce;
            emit reduceMotionChanged();
        }
    });
}

}  // namespace quaylet
