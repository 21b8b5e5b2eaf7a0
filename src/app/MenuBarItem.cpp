#include "app/MenuBarItem.h"

#include <QCursor>

#include <algorithm>

#include "app/LaunchHUD.h"
#include "app/SystemSymbols.h"
#include "feature/Launch.h"
#include "feature/PullRequestWatcher.h"

namespace quaylet {

MenuBarItem::MenuBarItem(const Launch& launch, const PullRequestWatcher& watcher,
                         LaunchHUD& launchHUD, Actions actions, QObject* parent)
    : QObject(parent), launch_(launch) {
    menu_.addAction(QStringLiteral("Open Quaylet"), this, actions.openWindow);
    menu_.addAction(QStringLiteral("Check for Updates…"), this, actions.checkForUpdates);
    menu_.addSeparator();
    QAction* dismiss = menu_.addAction(QStringLiteral("Dismiss"), &launchHUD, &LaunchHUD::hide);
    QAction* signIn = menu_.addAction(QStringLiteral("Sign in"), &launchHUD, &LaunchHUD::signIn);
    const auto offerPanelActions = [&launchHUD, dismiss, signIn] {
        dismiss->setVisible(launchHUD.offeredAction() == QStringLiteral("dismiss"));
        signIn->setVisible(launchHUD.offeredAction() == QStringLiteral("signIn"));
    };
    connect(&launchHUD, &LaunchHUD::offeredActionChanged, this, offerPanelActions);
    offerPanelActions();
    menu_.addSeparator();
    menu_.addAction(QStringLiteral("Quit Quaylet"), this, actions.quit);
    tray_.setContextMenu(&menu_);

    tray_.setToolTip(QStringLiteral("Quaylet"));
    connect(
        &tray_, &QSystemTrayIcon::activated, this,
        [this, activated = std::move(actions.activated)](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                activated(tray_.geometry(), QCursor::pos());
            }
        });
    connect(&launch, &Launch::stageChanged, this, [this] { showStage(launch_.stage()); });
    // Where no notification could announce a watched build, the item's tooltip does.
    connect(&watcher, &PullRequestWatcher::readyBuildsChanged, this, [this, &watcher] {
        const auto& ready = watcher.readyBuilds();
        tray_.setToolTip(ready.empty()
                             ? QStringLiteral("Quaylet")
                             : QStringLiteral("Quaylet\n") + readyAnnouncement(ready.back()));
    });
    showStage(launch.stage());
    tray_.show();
}

bool MenuBarItem::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QString MenuBarItem::iconSymbol(LaunchStage stage) {
    switch (stage) {
        case LaunchStage::idle:
            return QStringLiteral("play.square.stack");
        case LaunchStage::running:
            return QStringLiteral("iphone.gen3.circle.fill");
        default:
            return QStringLiteral("arrow.triangle.2.circlepath");
    }
}

std::optional<QRect> MenuBarItem::popupAnchor(const QRect& item, const QPoint& pointer,
                                              bool platformPlacesWindows) {
    if (!item.isEmpty()) {
        return item;
    }
    if (platformPlacesWindows) {
        return std::nullopt;
    }
    return QRect(pointer, QSize(1, 1));
}

QPoint MenuBarItem::popupPosition(const QRect& item, const QSize& popup, const QRect& screen) {
    const int centredX = item.left() + item.width() / 2 - popup.width() / 2;
    const int x = std::clamp(centredX, screen.left(),
                             std::max(screen.left(), screen.right() + 1 - popup.width()));
    const bool fitsBelow = item.bottom() + 1 + popup.height() <= screen.bottom() + 1;
    const int y = fitsBelow ? item.bottom() + 1 : item.top() - popup.height();
    return {x, std::clamp(y, screen.top(),
                          std::max(screen.top(), screen.bottom() + 1 - popup.height()))};
}

void MenuBarItem::showStage(LaunchStage stage) {
    symbol_ = iconSymbol(stage);
    tray_.setIcon(SystemSymbols::icon(symbol_));
}

}  // namespace quaylet
