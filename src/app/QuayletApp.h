#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QUrl>

#include <memory>

#include "app/LaunchHUD.h"
#include "app/UpdateAction.h"

namespace quaylet {

class AppState;
class MenuBarItem;

// The application's long-lived objects and their wiring: the one state, the update check,
// the tray item with its pop-up window, and the intake of quaylet:// links.
class QuayletApp : public QObject {
    Q_OBJECT

  public:
    // The state outlives the application object.
    explicit QuayletApp(AppState& state, QObject* parent = nullptr);
    ~QuayletApp() override;

    AppState& appState() { return state_; }
    QQmlEngine& engine() { return engine_; }
    LaunchHUD& launchHUD() { return launchHUD_; }

    // Hands every link to the state in the order given; then the launch panel shows, also
    // for an empty list, so that opening a link always gives visible feedback.
    void open(const QList<QUrl>& urls);

    // The ordinary window of the --ui-testing mode; a second call brings back the same one.
    void presentPreviewWindow();

    // The tray item where the desktop has one; otherwise says so and shows the ordinary
    // window, so that the application never runs out of sight.
    void showMenuBarItem();

  private:
    QQuickWindow* makeWindow(const char* type);
    void togglePopup(const QRect& item);
    void checkForUpdates();

    AppState& state_;
    QQmlEngine engine_;
    UpdateAction updateAction_;
    LaunchHUD launchHUD_;
    std::unique_ptr<MenuBarItem> menuBarItem_;
    QPointer<QQuickWindow> popupWindow_;
    QPointer<QQuickWindow> previewWindow_;
};

}  // namespace quaylet
