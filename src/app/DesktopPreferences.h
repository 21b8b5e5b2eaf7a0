#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>

namespace quaylet {

// What the person asked of every application in the desktop's own settings, read once at
// start-up.
class DesktopPreferences : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Desktop)
    QML_SINGLETON
    Q_PROPERTY(bool reduceMotion READ reduceMotion CONSTANT)

  public:
    explicit DesktopPreferences(QObject* parent = nullptr) : QObject(parent) {}

    // True when the desktop asks applications not to animate.
    static bool reduceMotion();
};

}  // namespace quaylet
