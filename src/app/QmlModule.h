#pragma once

#include <QQmlEngine>

namespace quaylet {

// Lets the engine import the application's QML module, Quaylet, which is compiled into the
// program's resources, and lets assistive technologies read the module's own elements.
void addApplicationModule(QQmlEngine& engine);

}  // namespace quaylet
