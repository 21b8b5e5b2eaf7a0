#pragma once

#include <QObject>

#include <memory>

namespace quaylet {

// What the person asked of every application in the desktop's own settings, followed while
// the application runs.
class DesktopPreferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)

  public:
    explicit DesktopPreferences(QObject* parent = nullptr);

    // True when the desktop asks applications not to animate.
    bool reduceMotion() const { return reduceMotion_; }

  signals:
    void reduceMotionChanged();

  private:
    bool reduceMotion_ = false;  // until the desktop says otherwise
    std::shared_ptr<void> watch_;
};

}  // namespace quaylet
