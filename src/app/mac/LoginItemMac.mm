#import <ServiceManagement/ServiceManagement.h>

#include "app/LoginItem.h"

namespace quaylet {

bool LoginItem::isInstalled() const {
    return [SMAppService mainAppService].status == SMAppServiceStatusEnabled;
}

QString LoginItem::install(bool installed) {
    NSError* error = nil;
    SMAppService* service = [SMAppService mainAppService];
    const BOOL done = installed ? [service registerAndReturnError:&error]
                                : [service unregisterAndReturnError:&error];
    if (done) {
        return {};
    }
    return QString::fromNSString(error.localizedDescription);
}

}  // namespace quaylet
