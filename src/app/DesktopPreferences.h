#pragma once

#include <QDir>
#include <QObject>
#include <QUrl>

#include <memory>

namespace quaylet {

// What the person asked of every application in the desktop's own settings, followed while
// the application runs.
class DesktopPreferences : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)
    // The person's home folder, where a chooser of files starts.
    Q_PROPERTY(QUrl homeFolder READ homeFolder CONSTANT)

  public:
    explicit DesktopPreferences(QObject* parent = nullptr);

    // True when the desktop asks applications not to animate.
    bool reduceMotion() const { return reduceMotion_; }
    static QUrl homeFolder() { return QUrl::fromLocalFile(QDir::homePath()); }

  signals:
    void reduceMotionChanged();

  private:
    bool reduceMotion_ = false;  // until the desktop says otherwise
    std::shared_ptr<void> watch_;
};

}  // namespace quaylet
