#include "app/LaunchHUD.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QScreen>
#include <QtMath>

#include "app/QmlModule.h"
#include "feature/AppState.h"

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

}  // namespace

LaunchHUD::LaunchHUD(AppState& state, QmlWindowMaker& windows, QObject* parent)
    : QObject(parent), state_(state), windows_(windows) {
    // Several changes in one pass of the event loop are judged once, on their final values.
    for (const auto changed : {&AppState::stageChanged, &AppState::errorMessageChanged,
                               &AppState::activeAppNameChanged, &AppState::activeDetailChanged,
                               &AppState::isSignedInChanged, &AppState::receivedPreviewIDChanged}) {
        connect(&state_, changed, this, &LaunchHUD::scheduleEvaluation);
    }
    hideTimer_.setSingleShot(true);
    connect(&hideTimer_, &QTimer::timeout, this, &LaunchHUD::hide);
    fade_.setPropertyName("opacity");
    connect(&fade_, &QPropertyAnimation::finished, this, [this] {
        if (fade_.endValue().toReal() == 0.0) {
            panel_->hide();
        }
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
    const LaunchStage stage = state_.stage();
    const std::optional<std::string>& error = state_.errorMessage();

    if (error && error != lastError_) {
        show();
        // A failure stays until it is dismissed, even one that follows a success closely.
        hideTimer_.stop();
    } else if (stage == LaunchStage::idle && state_.receivedPreviewID() && !state_.isSignedIn() &&
               lastStage_ == LaunchStage::idle) {
        show();
    } else if (state_.isLaunchInProgress()) {
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
        panel_->contentItem()->setOpacity(0.0);
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
    fade_.setStartValue(panel_->contentItem()->opacity());
    fade_.setEndValue(to);
    fade_.setDuration(static_cast<int>(duration.count()));
    fade_.start();
}

void LaunchHUD::makePanel() {
    QQuickWindow* window = windows_.make(
        "LaunchPanel", {{"appState", QVariant::fromValue(static_cast<QObject*>(&state_))}});
    panel_.reset(window);
    connect(panel_.get(), SIGNAL(dismissRequested()), this, SLOT(hide()));
    // The content fades rather than the window: window opacity is missing on several
    // platforms (Wayland among them), a transparent window's content is not.
    fade_.setTargetObject(panel_->contentItem());
}

void LaunchHUD::placePanel() {
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
    panel_->setPosition(qRound(whole.x() + whole.width() * 0.5 - panel_->width() * 0.5),
                        usable.top() + kTopMargin);
}

}  // namespace quaylet
