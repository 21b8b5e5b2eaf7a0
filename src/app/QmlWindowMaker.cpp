#include "app/QmlWindowMaker.h"

namespace quaylet {

QWindow* QmlWindowMaker::make(const char* type, const QVariantMap& properties) {
    if (!factory_) {
        factory_ = openInterface();
    }
    return factory_->make(type, properties);
}

}  // namespace quaylet
