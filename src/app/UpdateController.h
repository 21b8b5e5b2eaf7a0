#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace quaylet {

// What a check the user asked for found, in the words the update dialog shows.
struct UpdateCheckResult {
    enum class Outcome { updateAvailable, upToDate, noFeed, failed };

    Outcome outcome = Outcome::failed;
    QString heading;
    QString message;
    // The newer version as the feed names it, for the download button; empty otherwise.
    QString availableVersion;
    // Where the browser gets the newer version: http or https only, else empty.
    QUrl downloadPage;
};

// The software-update component behind "Check for Updates…" and "Check now": one per
// process, made for the platform by makeUpdateController().
class UpdateController : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // Starts a check the user asked for and returns at once.
    virtual void checkForUpdates() = 0;

  signals:
    // Sent by controllers whose outcome the application shows itself; an update framework
    // with dialogs of its own sends neither.
    void checkStarted();
    void checkFinished(const quaylet::UpdateCheckResult& result);
};

// The controller of this platform, set up from the build's configuration and the
// environment.
std::unique_ptr<UpdateController> makeUpdateController();

}  // namespace quaylet
