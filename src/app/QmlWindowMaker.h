#pragma once

#include <QVariantMap>
#include <QWindow>

#include <memory>

namespace quaylet {

// Makes the application's windows from its QML views, with the engine behind them.
class WindowFactory {
  public:
    virtual ~WindowFactory() = default;
    // Made with the given initial properties; the caller owns the window, and it must go
    // before this factory. Throws std::logic_error when the views have no such window.
    virtual QWindow* make(const char* type, const QVariantMap& properties) = 0;
};

// The views. The program loads them from its interface module (InterfaceModule.cpp), so
// that Qt Qml and Qt Quick are mapped only once a window is first wanted; the tests and
// tools that link the QML module make them directly (LinkedInterface.cpp). Throws
// std::runtime_error when the module cannot be loaded.
std::unique_ptr<WindowFactory> openInterface();

// Opens the views with the first window: a tray item that nobody has clicked carries no QML
// engine, nor the libraries behind one, which is most of an idle application's memory.
class QmlWindowMaker {
  public:
    // As WindowFactory::make; the windows must go before this maker.
    QWindow* make(const char* type, const QVariantMap& properties);

    bool hasEngine() const { return factory_ != nullptr; }

  private:
    std::unique_ptr<WindowFactory> factory_;
};

}  // namespace quaylet
