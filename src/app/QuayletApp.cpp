#include "app/QuayletApp.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QScreen>

#include <cstdio>
#include <stdexcept>

#include "app/MenuBarItem.h"
#include "app/QmlModule.h"
#include "feature/AppState.h"

namespace quaylet {

QuayletApp::QuayletApp(AppState& state, QObject* parent)
    : QObject(parent),
      state_(state),
      updateAction_([this] { checkForUpdates(); }),
      launchHUD_(state_, engine_) {
    addApplicationModule(engine_);
}

QuayletApp::~QuayletApp() {
    // The windows' views read the state: they go first.
    delete popupWindow_;
    delete previewWindow_;
}

void QuayletApp::open(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        state_.receive(url);
    }
    launchHUD_.show();
}

void QuayletApp::presentPreviewWindow() {
    if (!previewWindow_) {
        previewWindow_ = makeWindow("PreviewWindow");
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
    menuBarItem_ =
        std::make_unique<MenuBarItem>(state_, [this](const QRect& item) { togglePopup(item); });
}

QQuickWindow* QuayletApp::makeWindow(const char* type) {
    QQmlComponent component(&engine_);
    component.setData(QByteArray("import Quaylet\n") + type + " {}", QUrl());
    // A component that failed to load must not be asked for objects: Qt would crash.
    QObject* made = !component.isReady()
                        ? nullptr
                        : component.createWithInitialProperties(
                              {{"appState", QVariant::fromValue(static_cast<QObject*>(&state_))},
                               {"updateAction", QVariant::fromValue(&updateAction_)}});
    auto* window = qobject_cast<QQuickWindow*>(made);
    if (!window) {
        delete made;
        throw std::logic_error("The window " + std::string(type) +
                               " could not be made: " + component.errorString().toStdString());
    }
    return window;
}

void QuayletApp::togglePopup(const QRect& item) {
    if (!popupWindow_) {
        popupWindow_ = makeWindow("PopupWindow");
    }
    if (popupWindow_->isVisible()) {
        popupWindow_->hide();
        return;
    }
    QScreen* screen = item.isEmpty() ? QGuiApplication::primaryScreen()
                                     : QGuiApplication::screenAt(item.center());
    if (screen && !item.isEmpty()) {
        popupWindow_->setPosition(
            MenuBarItem::popupPosition(item, popupWindow_->size(), screen->availableGeometry()));
    }
    popupWindow_->show();
    popupWindow_->raise();
    popupWindow_->requestActivate();
}

void QuayletApp::checkForUpdates() {}

}  // namespace quaylet
