#pragma once

#include <QQmlEngine>
#include <QQuickWindow>
#include <QVariantMap>

#include <memory>

namespace quaylet {

// Lets the engine import the application's QML module, Quaylet, which is compiled into the
// program's resources, and lets assistive technologies read the module's own elements.
void addApplicationModule(QQmlEngine& engine);

// Makes the application's windows from its QML module. The engine behind them is made with
// the first window: a tray item that nobody has clicked carries no QML engine, which is most
// of an idle application's memory.
class QmlWindowMaker {
  public:
    // Made with the given initial properties; the caller owns the window, and it must go
    // before this maker. Throws std::logic_error when the module has no such window.
    QQuickWindow* make(const char* type, const QVariantMap& properties);

    bool hasEngine() const { return engine_ != nullptr; }

  private:
    std::unique_ptr<QQmlEngine> engine_;
};

}  // namespace quaylet
