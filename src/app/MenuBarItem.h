#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSystemTrayIcon>

#include <functional>

#include "feature/LaunchStage.h"

namespace quaylet {

class AppState;

// The item in the desktop's system tray: its icon follows the launch stage, and clicking it
// asks for the main window, anchored to the item.
class MenuBarItem : public QObject {
    Q_OBJECT

  public:
    // Called with the item's place on the screen (empty when the desktop does not say).
    using Activated = std::function<void(const QRect& item)>;

    MenuBarItem(const AppState& state, Activated activated, QObject* parent = nullptr);

    static bool isAvailable();
    static QString iconSymbol(LaunchStage stage);

    // Where a pop-up of the given size goes: centred under the item when it fits below it
    // on the screen, otherwise above it, and always kept inside the screen's free area.
    static QPoint popupPosition(const QRect& item, const QSize& popup, const QRect& screen);

    QString currentSymbol() const { return symbol_; }
    // Where the item is on the screen; empty when the desktop does not say.
    QRect geometry() const { return tray_.geometry(); }

  private:
    void showStage(LaunchStage stage);

    const AppState& state_;
    QSystemTrayIcon tray_;
    QString symbol_;
};

}  // namespace quaylet
