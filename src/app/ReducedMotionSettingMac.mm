#include "app/ReducedMotionSetting.h"

#import <AppKit/AppKit.h>

namespace quaylet {

bool desktopDisablesAnimations() {
    return NSWorkspace.sharedWorkspace.accessibilityDisplayShouldReduceMotion;
}

std::shared_ptr<void> watchDesktopAnimations(std::function<void()> changed) {
    NSNotificationCenter* centre = NSWorkspace.sharedWorkspace.notificationCenter;
    id observer =
        [centre addObserverForName:NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification
                            object:nil
                             queue:NSOperationQueue.mainQueue
                        usingBlock:^(NSNotification*) {
                          changed();
                        }];
    return std::shared_ptr<void>((__bridge_retained void*)observer, [centre](void* held) {
        id released = (__bridge_transfer id)held;
        [centre removeObserver:released];
    });
}

}  // namespace quaylet
