#include "app/DesktopPreferences.h"

#include "app/ReducedMotionSetting.h"

namespace quaylet {

bool DesktopPreferences::reduceMotion() {
    static const bool reduce = desktopDisablesAnimations();
    return reduce;
}

}  // namespace quaylet
