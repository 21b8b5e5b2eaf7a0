#pragma once

#include <QObject>
#include <QPropertyAnimation>
#include <QRegion>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "feature/LaunchStage.h"

namespace quaylet {

class Account;
class Launch;
class QmlWindowMaker;

// The small floating panel at the top of the screen that follows a launch opened from a
// link: it decides from the launch's and the account's changes when the panel shows and hides, and
// owns it.
class LaunchHUD : public QObject {
    Q_OBJECT
    // The button the panel shows right now, "dismiss" or "signIn", or empty. The tray menu
    // and the main window offer the same action meanwhile, for people without a mouse: the
    // panel never takes the keyboard focus.
    Q_PROPERTY(QString offeredAction READ offeredAction NOTIFY offeredActionChanged)

  public:
    // Starts watching the launch; makes no panel and shows nothing yet. The launch, the
    // account and the window maker outlive the controller.
    LaunchHUD(Launch& launch, Account& account, QmlWindowMaker& windows, QObject* parent = nullptr);

    // Absent until the first show().
    QWindow* panel() const { return panel_.get(); }
    // Whether the automatic hide after a success is still to come.
    bool isHideScheduled() const { return hideTimer_.isActive(); }
    QString offeredAction() const;

    // The outline the panel's window is cut to: nothing where the desktop blends
    // translucent windows, otherwise the card's rounded rectangle.
    static QRegion panelMask(const QRectF& card, qreal radius, bool composited);

  public slots:
    // Makes the panel on first use, fits it to its content at the top centre of the screen
    // and fades it in unless it is already on screen.
    void show();
    // Fades the panel out and takes it off screen, if it is on screen.
    void hide();
    // The panel's "Sign in": opens the service's sign-in page in the browser.
    void signIn();

  private slots:
    // The content changed while the panel is up: it is fitted to it again at once.
    void refit();

  signals:
    void offeredActionChanged();

  private:
    void scheduleEvaluation();
    void evaluate();
    void scheduleHide(std::chrono::milliseconds delay);
    void makePanel();
    QObject& panelContent() const;
    void placePanel();
    void fade(qreal to, std::chrono::milliseconds duration);
    bool isFadingOut() const;
    void announceOfferedAction();

    Launch& launch_;
    Account& account_;
    QmlWindowMaker& windows_;
    std::unique_ptr<QWindow> panel_;
    QPropertyAnimation fade_;
    QTimer hideTimer_;
    bool evaluationPending_ = false;
    LaunchStage lastStage_ = LaunchStage::idle;
    std::optional<std::string> lastError_;
    QString announcedAction_;
};

}  // namespace quaylet
