#include "app/ReducedMotionSetting.h"

#import <AppKit/AppKit.h>

namespace quaylet {
namespace {

bool displayShouldReduceMotion() {
    return NSWorkspace.sharedWorkspace.accessibilityDisplayShouldReduceMotion;
}

}  // namespace

std::shared_ptr<void> followDesktopAnimations(std::function<void(bool disabled)> report) {
    report(displayShouldReduceMotion());
    NSNotificationCenter* centre = NSWorkspace.sharedWorkspace.notificationCenter;
    id observer =
        [centre addObserverForName:NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification
                            object:nil
                             queue:NSOperationQueue.mainQueue
                        usingBlock:^(NSNotification*) {
                          report(displayShouldReduceMotion());
                        }];
    return std::shared_ptr<void>((__bridge_retained void*)observer, [centre](void* held) {
        id released = (__bridge_transfer id)held;
        [centre removeObserver:released];
    });
}

}  // namespace quaylet
