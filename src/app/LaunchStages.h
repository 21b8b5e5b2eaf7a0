#pragma once

#include <QObject>
#include <QString>

namespace quaylet {

// The launch stage tables for QML, which sees stages and sources as the raw texts that
// the launch's properties carry.
class LaunchStages : public QObject {
    Q_OBJECT

  public:
    Q_INVOKABLE static QString title(const QString& stage);
    // The pipeline step (0 to 5) of the stage for a launch of the given source.
    Q_INVOKABLE static int step(const QString& stage, const QString& source);
    // The progress bar's accessibility value, such as "Verifying, step 3 of 5".
    Q_INVOKABLE static QString accessibilityValue(const QString& stage, const QString& source);
};

}  // namespace quaylet
