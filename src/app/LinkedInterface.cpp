#include "app/QmlModule.h"

namespace quaylet {

std::unique_ptr<WindowFactory> openInterface() {
    return std::make_unique<QmlWindows>();
}

}  // namespace quaylet
