#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "core/service/PreviewRecords.h"

namespace quaylet {

// Tells the user that a watched pull request's new build is ready to open. The desktop's
// notification service does it where there is one; each platform has its own source file,
// chosen in CMake, and hosts without a service get one that never shows anything.
class BuildNotifier : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // The desktop's notifier on this host.
    static std::shared_ptr<BuildNotifier> forThisHost();

    // Shows "Build ready · <title> · <owner/name> #<n>" with an "Open" action. False when
    // nothing could show it, so that the caller shows the build itself.
    virtual bool announce(const PreviewSummary& build) = 0;

  signals:
    // The user chose "Open" on the announcement of this build.
    void openRequested(const QString& previewID);
};

// "Build ready · <title> · <owner/name> #<n>": the announcement's one line, on every platform,
// its outside text inert.
QString readyAnnouncement(const PreviewSummary& build);

}  // namespace quaylet
