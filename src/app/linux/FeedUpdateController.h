#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>

#include "app/UpdateController.h"
#include "core/support/SemanticVersion.h"

class QNetworkReply;

namespace quaylet {

// Updates on Linux: reads an update feed in the appcast format (RSS 2.0 whose items carry
// an enclosure with the version) and tells whether a newer version than the running one
// is out. The feed is untrusted: its size is bounded, it is parsed strictly, and only web
// links from it are offered to the browser.
class FeedUpdateController : public UpdateController {
    Q_OBJECT

  public:
    // An empty address means that this build is updated by the system's packages.
    FeedUpdateController(QString feedAddress, SemanticVersion runningVersion,
                         QObject* parent = nullptr);
    ~FeedUpdateController() override;

    // QUAYLET_UPDATE_FEED when it is set (even empty), otherwise the address the build was
    // configured with.
    static QString configuredFeedAddress();

    // A check already under way is not started twice; its result answers both requests.
    void checkForUpdates() override;

  private:
    void finished();
    void takeBody(QNetworkReply& reply);
    UpdateCheckResult resultOfFeed(const QByteArray& feed) const;

    QString feedAddress_;
    SemanticVersion runningVersion_;
    QNetworkAccessManager network_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    bool insecureRedirect_ = false;  // the reply was stopped at a redirect to plain http elsewhere
};

}  // namespace quaylet
