#pragma once

#include <QObject>
#include <QString>

#include "feature/LaunchStage.h"

namespace quaylet {

// The launch stage tables for QML, which sees stages and sources as their keys.
class LaunchStages : public QObject {
    Q_OBJECT

  public:
    // Each stage's words for an Android build when android is true, else for an iOS build.
    Q_INVOKABLE static QString title(quaylet::LaunchStageKeys::Key stage, bool android);
    // The pipeline step (0 to 5) of the stage for a launch of the given source.
    Q_INVOKABLE static int step(quaylet::LaunchStageKeys::Key stage,
                                quaylet::LaunchSourceKeys::Key source);
    // The title of the pipeline's step (1 to 5) for a launch of the given source.
    Q_INVOKABLE static QString stepTitle(int step, quaylet::LaunchSourceKeys::Key source);
    // What the stage's step is doing, in the words its line in the pipeline shows.
    Q_INVOKABLE static QString stepDetail(quaylet::LaunchStageKeys::Key stage, bool android);
    // The progress bar's accessibility value, such as "Verifying, step 3 of 5".
    Q_INVOKABLE static QString accessibilityValue(quaylet::LaunchStageKeys::Key stage,
                                                  quaylet::LaunchSourceKeys::Key source,
                                                  bool android);
};

}  // namespace quaylet
