#include "app/LoginItem.h"

namespace quaylet {

LoginItem::LoginItem(QObject* parent) : QObject(parent) {}

void LoginItem::setInstalled(bool installed) {
    const QString error = install(installed);
    if (error != error_) {
        error_ = error;
        emit errorChanged();
    }
    // Also after a failure: the switch goes back to what is there.
    emit installedChanged();
}

}  // namespace quaylet
