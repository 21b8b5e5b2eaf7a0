#include "app/MenuBarItem.h"

#include <algorithm>

#include "app/SystemSymbols.h"
#include "feature/AppState.h"

namespace quaylet {

MenuBarItem::MenuBarItem(const AppState& state, Activated activated, QObject* parent)
    : QObject(parent), state_(state) {
    tray_.setToolTip(QStringLiteral("Quaylet"));
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this, activated = std::move(activated)](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    activated(tray_.geometry());
                }
            });
    connect(&state, &AppState::stageChanged, this, [this] { showStage(state_.stage()); });
    // Where no notification could announce a watched build, the item's tooltip does.
    connect(&state.watcher(), &PullRequestWatcher::readyBuildsChanged, this, [this] {
        const auto& ready = state_.watcher().readyBuilds();
        tray_.setToolTip(ready.empty()
                             ? QStringLiteral("Quaylet")
                             : QStringLiteral("Quaylet\n") + readyAnnouncement(ready.back()));
    });
    showStage(state.stage());
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
