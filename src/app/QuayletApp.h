#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <QWindow>

#include <memory>

#include "app/LaunchHUD.h"
#include "app/QmlWindowMaker.h"
#include "app/UpdateAction.h"
#include "app/UpdateController.h"

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
    const QmlWindowMaker& windows() const { return windows_; }
    // What "Check for Updates…" and "Check now" run.
    UpdateAction& updateAction() { return updateAction_; }
    LaunchHUD& launchHUD() { return launchHUD_; }

    // Hands every link to the state in the order given; then the launch panel shows, also
    // for an empty list, so that opening a link always gives visible feedback. Each link is
    // logged (without its query, which may hold a sign-in code) under the category
    // "quaylet.links" when its info messages are enabled.
    void open(const QList<QUrl>& urls);

    // The ordinary window of the --ui-testing mode; a second call brings back the same one.
    void presentPreviewWindow();

    // The tray item where the desktop has one; otherwise says so and shows the ordinary
    // window, so that the application never runs out of sight.
    void showMenuBarItem();

    // The main window where it lives: the tray item's pop-up, or the ordinary window.
    void showMainWindow();

  protected:
    // Where the desktop hands over links as events (macOS) rather than on the command line.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QVariantMap viewProperties();
    void togglePopup(const QRect& item, const QPoint& pointer);
    void showPopup(const QRect& item, const QPoint& pointer);
    void checkForUpdates();
    void showUpdateDialog(bool checking, const UpdateCheckResult& result);

    AppState& state_;
    QmlWindowMaker windows_;
    std::unique_ptr<UpdateController> updateController_;
    UpdateAction updateAction_;
    LaunchHUD launchHUD_;
    std::unique_ptr<MenuBarItem> menuBarItem_;
    QPointer<QWindow> popupWindow_;
    QPointer<QWindow> previewWindow_;
    QPointer<QWindow> updateDialog_;
};

}  // namespace quaylet
