#pragma once

#include <QQmlEngine>

namespace quaylet {

// Lets the engine import the application's QML module, Quaylet, which is compiled into the
// program's resources.
void addApplicationModule(QQmlEngine& engine);

}  // namespace quaylet
