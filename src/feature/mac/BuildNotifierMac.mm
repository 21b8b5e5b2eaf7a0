#import <UserNotifications/UserNotifications.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "feature/BuildNotifier.h"

// Receives the user's choice on a notification and hands the build to the notifier on the
// main thread.
@interface QuayletNotificationDelegate : NSObject <UNUserNotificationCenterDelegate>
@property(nonatomic, assign) QPointer<quaylet::BuildNotifier> notifier;
@end

namespace quaylet {
namespace {

NSString* const kCategory = @"dev.quaylet.build-ready";
NSString* const kOpenAction = @"open";
NSString* const kPreviewKey = @"previewID";

}  // namespace

// Notifications through the user-notification framework; the user is asked for permission
// once, when the first build is announced.
class UserNotificationBuildNotifier : public BuildNotifier {
  public:
    UserNotificationBuildNotifier() {
        delegate_ = [[QuayletNotificationDelegate alloc] init];
        delegate_.notifier = this;
        UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
        center.delegate = delegate_;
        UNNotificationAction* open = [UNNotificationAction actionWithIdentifier:kOpenAction
                                                                          title:@"Open"
                                                                        options:UNNotificationActionOptionForeground];
        [center setNotificationCategories:[NSSet setWithObject:[UNNotificationCategory
                                                    categoryWithIdentifier:kCategory
                                                                   actions:@[ open ]
                                                         intentIdentifiers:@[]
                                                                   options:0]]];
    }

    bool announce(const PreviewSummary& build) override {
        UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
        [center requestAuthorizationWithOptions:UNAuthorizationOptionAlert
                              completionHandler:^(BOOL, NSError*){
                              }];
        UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
        content.title = readyAnnouncement(build).toNSString();
        content.categoryIdentifier = kCategory;
        content.userInfo = @{kPreviewKey : QString::fromStdString(build.previewID).toNSString()};
        UNNotificationRequest* request =
            [UNNotificationRequest requestWithIdentifier:[[NSUUID UUID] UUIDString]
                                                 content:content
                                                 trigger:nil];
        // Delivery is queued by the system, which applies the user's notification settings.
        [center addNotificationRequest:request withCompletionHandler:nil];
        return true;
    }

  private:
    QuayletNotificationDelegate* delegate_;
};

std::shared_ptr<BuildNotifier> BuildNotifier::forThisHost() {
    return std::make_shared<UserNotificationBuildNotifier>();
}

}  // namespace quaylet

@implementation QuayletNotificationDelegate
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler {
    NSString* identifier = response.actionIdentifier;
    if ([identifier isEqualToString:quaylet::kOpenAction] ||
        [identifier isEqualToString:UNNotificationDefaultActionIdentifier]) {
        const QString previewID = QString::fromNSString(
            response.notification.request.content.userInfo[quaylet::kPreviewKey]);
        const QPointer<quaylet::BuildNotifier> notifier = self.notifier;
        QMetaObject::invokeMethod(
            qApp, [notifier, previewID] {
                if (notifier) {
                    emit notifier->openRequested(previewID);
                }
            },
            Qt::QueuedConnection);
    }
    completionHandler();
}
@end
