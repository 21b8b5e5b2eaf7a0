#include "feature/BuildNotifier.h"

namespace quaylet {

QString readyAnnouncement(const PreviewSummary& build) {
    return QStringLiteral("Build ready \u00B7 %1 \u00B7 PR #%2")
        .arg(QString::fromStdString(build.title()))
        .arg(build.pullRequest);
}

}  // namespace quaylet
