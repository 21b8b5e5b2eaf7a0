#include "app/DesktopPreferences.h"

#include "app/ReducedMotionSetting.h"

namespace quaylet {

DesktopPreferences::DesktopPreferences(QObject* parent)
    : QObject(parent), reduceMotion_(desktopDisablesAnimations()) {
    watch_ = watchDesktopAnimations([this] {
        const bool reduce = desktopDisablesAnimations();
        if (reduce != reduceMotion_) {
            reduceMotion_ = reduce;
            emit reduceMotionChanged();
        }
    });
}

}  // namespace quaylet
