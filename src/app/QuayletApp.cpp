#include "app/QuayletApp.h"

#include <QCursor>
#include <QFileOpenEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>

#include <cstdio>

#include "app/MenuBarItem.h"
#include "core/support/Text.h"
#include "feature/AppState.h"

namespace quaylet {
namespace {

Q_LOGGING_CATEGORY(linksCategory, "quaylet.links", QtWarningMsg)

}  // namespace

QuayletApp::QuayletApp(AppState& state, QObject* parent)
    : QObject(parent),
      state_(state),
      updateController_(makeUpdateController()),
      updateAction_([this] { checkForUpdates(); }),
      launchHUD_(state_.launch(), state_.account(), windows_) {
    connect(updateController_.get(), &UpdateController::checkStarted, this,
            [this] { showUpdateDialog(true, {}); });
    connect(updateController_.get(), &UpdateController::checkFinished, this,
            [this](const UpdateCheckResult& result) { showUpdateDialog(false, result); });
    QCoreApplication::instance()->installEventFilter(this);
}

QuayletApp::~QuayletApp() {
    // The windows' views read the state: they go first.
    delete popupWindow_;
    delete previewWindow_;
    delete updateDialog_;
}

void QuayletApp::open(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        // The link comes from anybody's web page and this line may end up on a terminal.
        const QString shown = url.toString(QUrl::RemoveQuery | QUrl::RemoveUserInfo);
        qCInfo(linksCategory).noquote()
            << "Opening" << QString::fromStdString(inertText(shown.toStdString()));
        state_.launch().receive(url);
    }
    launchHUD_.show();
}

bool QuayletApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FileOpen) {
        open({static_cast<QFileOpenEvent*>(event)->url()});
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void QuayletApp::presentPreviewWindow() {
    if (!previewWindow_) {
        previewWindow_ = windows_.make("PreviewWindow", viewProperties());
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), previewWindow_->size());
            frame.moveCenter(screen->availableGeometry().center());
            previewWindow_->setPosition(frame.topLeft());
        }
    }
    previewWindow_->show();
    previewWindow_->raise();
    previewWindow_->requestActivate();
}

void QuayletApp::showMenuBarItem() {
    if (!MenuBarItem::isAvailable()) {
        std::fprintf(stderr,
                     "This desktop has no system tray, so Quaylet opens in a window instead.\n");
        presentPreviewWindow();
        return;
    }
    menuBarItem_ = std::make_unique<MenuBarItem>(
        state_.launch(), state_.watcher(), launchHUD_,
        MenuBarItem::Actions{
            .activated = [this](const QRect& item,
                                const QPoint& pointer) { togglePopup(item, pointer); },
            .openWindow = [this] { showMainWindow(); },
            .checkForUpdates = [this] { checkForUpdates(); },
            .quit = [] { QCoreApplication::quit(); },
        });
}

QVariantMap QuayletApp::viewProperties() {
    return {{"appState", QVariant::fromValue(static_cast<QObject*>(&state_))},
            {"updateAction", QVariant::fromValue(&updateAction_)},
            {"launchPanel", QVariant::fromValue(static_cast<QObject*>(&launchHUD_))}};
}

void QuayletApp::showMainWindow() {
    if (menuBarItem_) {
        showPopup(menuBarItem_->geometry(), QCursor::pos());
    } else {
        presentPreviewWindow();
    }
}

void QuayletApp::togglePopup(const QRect& item, const QPoint& pointer) {
    if (popupWindow_ && popupWindow_->isVisible()) {
        popupWindow_->hide();
    } else {
        showPopup(item, pointer);
    }
}

void QuayletApp::showPopup(const QRect& item, const QPoint& pointer) {
    if (!popupWindow_) {
        popupWindow_ = windows_.make("PopupWindow", viewProperties());
    }
    const std::optional<QRect> anchor = MenuBarItem::popupAnchor(
        item, pointer, QGuiApplication::platformName().startsWith(QStringLiteral("wayland")));
    QScreen* screen = anchor ? QGuiApplication::screenAt(anchor->center()) : nullptr;
    if (screen) {
        popupWindow_->setPosition(
            MenuBarItem::popupPosition(*anchor, popupWindow_->size(), screen->availableGeometry()));
    }
    popupWindow_->show();
    popupWindow_->raise();
    popupWindow_->requestActivate();
}

void QuayletApp::checkForUpdates() {
    updateController_->checkForUpdates();
}

void QuayletApp::showUpdateDialog(bool checking, const UpdateCheckResult& result) {
    if (!updateDialog_) {
        updateDialog_ = windows_.make("UpdateDialog", {});
    }
    updateDialog_->setProperty("checking", checking);
    updateDialog_->setProperty("heading", result.heading);
    updateDialog_->setProperty("message", result.message);
    updateDialog_->setProperty("availableVersion", result.availableVersion);
    updateDialog_->setProperty("downloadPage", result.downloadPage);
    updateDialog_->show();
    updateDialog_->raise();
    updateDialog_->requestActivate();
}

}  // namespace quaylet
