#include "app/ReducedMotionSetting.h"

#import <AppKit/AppKit.h>

namespace quaylet {

bool desktopDisablesAnimations() {
    return NSWorkspace.sharedWorkspace.accessibilityDisplayShouldReduceMotion;
}

}  // namespace quaylet
