#pragma once

#include <QQmlEngine>

#include "app/QmlWindowMaker.h"

namespace quaylet {

// Lets the engine import the application's QML module, Quaylet, which is compiled into the
// program's resources, and lets assistive technologies read the module's own elements.
void addApplicationModule(QQmlEngine& engine);

// The views over one engine, made with the factory.
class QmlWindows : public WindowFactory {
  public:
    QmlWindows();

    QWindow* make(const char* type, const QVariantMap& properties) override;

  private:
    QQmlEngine engine_;
};

}  // namespace quaylet
