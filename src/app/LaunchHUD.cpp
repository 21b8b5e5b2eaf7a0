#include "app/LaunchHUD.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QPainterPath>
#include <QScreen>
#include <QtMath>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

#include "app/QmlWindowMaker.h"
#include "feature/Account.h"
#include "feature/Launch.h"

namespace quaylet {
namespace {

using namespace std::chrono_literals;

constexpr auto kFadeIn = 180ms;
constexpr auto kFadeOut = 220ms;
constexpr auto kHideAfterSuccess = 2200ms;
// The panel's top edge sits this far below the top of the screen's usable area.
constexpr int kTopMargin = 10;

QScreen* panelScreen() {
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        return primary;
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screens.isEmpty() ? nullptr : screens.first();
}

// Whether the desktop blends translucent windows. An X11 desktop does only while a
// compositing manager holds the _NET_WM_CM_S0 selection (every monitor of today's X11
// desktops is X screen 0); Wayland always does.
bool windowsComposited() {
#if QT_CONFIG(xcb)
    // Other platforms (offscreen among them) may answer for X11 too, without a connection.
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || connection == nullptr) {
        return true;
    }
    const QByteArray name = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.constData()),
        nullptr);
    if (atom == nullptr) {
        return false;
    }
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool composited = owner != nullptr && owner->owner != XCB_NONE;
    free(owner);  // NOLINT: xcb replies are malloc'd
    free(atom);   // NOLINT
    return composited;
#else
    return true;
#endif
}

}  // namespace

QRegion LaunchHUD::panelMask(const QRectF& card, qreal radius, bool composited) {
    if (composited) {
        return {};
    }
    QPainterPath outline;
    outline.addRoundedRect(card, radius, radius);
    return QRegion(outline.toFillPolygon().toPolygon());
}

LaunchHUD::LaunchHUD(Launch& launch, Account& account, QmlWindowMaker& windows, QObject* parent)
    : QObject(parent), launch_(launch), account_(account), windows_(windows) {
    // Several changes in one pass of the event loop are judged once, on their final values.
    for (const auto changed :
         {&Launch::stageChanged, &Launch::errorMessageChanged, &Launch::activeAppNameChanged,
          &Launch::activeDetailChanged, &Launch::receivedPreviewIDChanged}) {
        connect(&launch_, changed, this, &LaunchHUD::scheduleEvaluation);
        connect(&launch_, changed, this, &LaunchHUD::announceOfferedAction);
    }
    connect(&account_, &Account::isSignedInChanged, this, &LaunchHUD::scheduleEvaluation);
    connect(&account_, &Account::isSignedInChanged, this, &LaunchHUD::announceOfferedAction);
    hideTimer_.setSingleShot(true);
    connect(&hideTimer_, &QTimer::timeout, this, &LaunchHUD::hide);
    fade_.setPropertyName("opacity");
    connect(&fade_, &QPropertyAnimation::finished, this, [this] {
        if (fade_.endValue().toReal() == 0.0) {
            panel_->hide();
        }
        announceOfferedAction();
    });
}

void LaunchHUD::scheduleEvaluation() {
    if (evaluationPending_) {
        return;
    }
    evaluationPending_ = true;
    QMetaObject::invokeMethod(this, &LaunchHUD::evaluate, Qt::QueuedConnection);
}

void LaunchHUD::evaluate() {
    evaluationPending_ = false;
    const LaunchStage stage = launch_.stage();
    const std::optional<std::string>& error = launch_.errorMessage();

    if (error && error != lastError_) {
        show();
        // A failure stays until it is dismissed, even one that follows a success closely.
        hideTimer_.stop();
    } else if (stage == LaunchStage::idle && launch_.receivedPreviewID() &&
               !account_.isSignedIn() && lastStage_ == LaunchStage::idle) {
        show();
    } else if (launch_.isLaunchInProgress()) {
        show();
        hideTimer_.stop();
    } else if (stage == LaunchStage::running && lastStage_ != LaunchStage::running) {
        show();
        scheduleHide(kHideAfterSuccess);
    }
    lastStage_ = stage;
    lastError_ = error;
}

void LaunchHUD::scheduleHide(std::chrono::milliseconds delay) {
    hideTimer_.start(delay);
}

void LaunchHUD::show() {
    if (!panel_) {
        makePanel();
    }
    placePanel();
    if (panel_->isVisible() && !isFadingOut()) {
        return;
    }
    if (!panel_->isVisible()) {
        panelContent().setProperty("opacity", 0.0);
        panel_->show();
    }
    panel_->raise();
    // A panel caught fading out comes back from where it is instead of vanishing at the end
    // of the fade.
    fade(1.0, kFadeIn);
}

void LaunchHUD::hide() {
    if (!panel_ || !panel_->isVisible() || isFadingOut()) {
        return;
    }
    fade(0.0, kFadeOut);
}

bool LaunchHUD::isFadingOut() const {
    return fade_.state() == QAbstractAnimation::Running && fade_.endValue().toReal() == 0.0;
}

void LaunchHUD::fade(qreal to, std::chrono::milliseconds duration) {
    fade_.stop();
    fade_.setStartValue(panelContent().property("opacity"));
    fade_.setEndValue(to);
    fade_.setDuration(static_cast<int>(duration.count()));
    fade_.start();
    announceOfferedAction();
}

QString LaunchHUD::offeredAction() const {
    if (!panel_ || !panel_->isVisible() || isFadingOut()) {
        return {};
    }
    if (launch_.errorMessage()) {
        return QStringLiteral("dismiss");
    }
    if (launch_.receivedPreviewID() && !account_.isSignedIn()) {
        return QStringLiteral("signIn");
    }
    return {};
}

void LaunchHUD::announceOfferedAction() {
    const QString action = offeredAction();
    if (action != announcedAction_) {
        announcedAction_ = action;
        emit offeredActionChanged();
    }
}

void LaunchHUD::signIn() {
    // Only a sign-in begun here may be completed by the link the browser returns.
    const QUrl page = account_.beginSignIn();
    if (!page.isEmpty()) {
        QDesktopServices::openUrl(page);
    }
}

void LaunchHUD::makePanel() {
    panel_.reset(windows_.make("LaunchPanel", {{"launch", QVariant::fromValue(&launch_)},
                                               {"account", QVariant::fromValue(&account_)}}));
    connect(panel_.get(), SIGNAL(dismissRequested()), this, SLOT(hide()));
    connect(panel_.get(), SIGNAL(signInRequested()), this, SLOT(signIn()));
    connect(panel_.get(), SIGNAL(fittingSizeChanged()), this, SLOT(refit()));
    // The content fades rather than the window: window opacity is missing on several
    // platforms (Wayland among them), a transparent window's content is not.
    fade_.setTargetObject(&panelContent());
}

// The panel's content item, reached through the window's properties: this controller runs in
// the program before Qt Quick is loaded, and so is built without it.
QObject& LaunchHUD::panelContent() const {
    return *panel_->property("contentItem").value<QObject*>();
}

void LaunchHUD::refit() {
    if (panel_->isVisible()) {
        placePanel();
    }
}

void LaunchHUD::placePanel() {
    // Without compositing, the transparent corners and the shadow would be drawn black: the
    // card then draws no shadow and an opaque background, and the panel is cut to its outline.
    const bool composited = windowsComposited();
    QObject* view = panel_->findChild<QObject*>(QStringLiteral("launchView"));
    view->setProperty("composited", composited);
    // The content changes with the state, so the panel is fitted to it on every show.
    const QSizeF fitting = panel_->property("fittingSize").toSizeF();
    panel_->resize(qCeil(fitting.width()), qCeil(fitting.height()));
    QScreen* screen = panelScreen();
    if (!screen) {
        return;  // with no screen the panel keeps its last position
    }
    const QRect whole = screen->geometry();
    const QRect usable = screen->availableGeometry();
    panel_->setScreen(screen);
    const QObject* card = panel_->findChild<QObject*>(QStringLiteral("launchCard"));
    const qreal margin = view->property("outerMargin").toReal();
    panel_->setMask(
        panelMask(QRectF(QPointF(), panel_->size()).adjusted(margin, margin, -margin, -margin),
                  card->property("radius").toReal(), composited));
    panel_->setPosition(qRound(whole.x() + whole.width() * 0.5 - panel_->width() * 0.5),
                        usable.top() + kTopMargin);
}

}  // namespace quaylet
