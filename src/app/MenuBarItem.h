#pragma once

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSystemTrayIcon>

#include <functional>
#include <optional>

#include "feature/LaunchStage.h"

namespace quaylet {

class Launch;
class LaunchHUD;
class PullRequestWatcher;

// The item in the desktop's system tray: its icon follows the launch stage, clicking it
// asks for the main window, anchored to the item, and its context menu holds every action,
// for the tray hosts that send no click at all.
class MenuBarItem : public QObject {
    Q_OBJECT

  public:
    struct Actions {
        // A click, with the item's place on the screen (empty when the desktop does not
        // say) and where the pointer was.
        std::function<void(const QRect& item, const QPoint& pointer)> activated;
        std::function<void()> openWindow;
        std::function<void()> checkForUpdates;
        std::function<void()> quit;
    };

    // The panel's "Dismiss" and "Sign in" join the menu while the panel shows them.
    MenuBarItem(const Launch& launch, const PullRequestWatcher& watcher, LaunchHUD& launchHUD,
                Actions actions, QObject* parent = nullptr);

    static bool isAvailable();
    static QString iconSymbol(LaunchStage stage);

    // What the pop-up hangs from: the item when the desktop says where it is, otherwise the
    // pointer at the click; nothing where the platform places windows itself (Wayland), which
    // then shows the pop-up as an ordinary window where it likes.
    static std::optional<QRect> popupAnchor(const QRect& item, const QPoint& pointer,
                                            bool platformPlacesWindows);

    // Where a pop-up of the given size goes: centred under the item when it fits below it
    // on the screen, otherwise above it, and always kept inside the screen's free area.
    static QPoint popupPosition(const QRect& item, const QSize& popup, const QRect& screen);

    QString currentSymbol() const { return symbol_; }
    QString toolTip() const { return tray_.toolTip(); }
    QMenu& menu() { return menu_; }
    // Where the item is on the screen; empty when the desktop does not say.
    QRect geometry() const { return tray_.geometry(); }

  private:
    void showStage(LaunchStage stage);

    const Launch& launch_;
    QMenu menu_;
    QSystemTrayIcon tray_;
    QString symbol_;
};

}  // namespace quaylet
