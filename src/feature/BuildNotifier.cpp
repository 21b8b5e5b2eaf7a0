#include "feature/BuildNotifier.h"

#include "core/support/Text.h"

namespace quaylet {

QString readyAnnouncement(const PreviewSummary& build) {
    // Joined rather than formatted, so that a "%1" in a title stays as written; inert, so that
    // a title can neither reorder the line nor add lines to it.
    return QString::fromStdString("Build ready \u00B7 " + inertText(build.title()) + " \u00B7 " +
                                  inertText(build.repository) + " #" +
                                  std::to_string(build.pullRequest));
}

}  // namespace quaylet
