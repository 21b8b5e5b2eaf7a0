#include "app/linux/FeedUpdateController.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QXmlStreamReader>

#include <optional>
#include <stdexcept>

#include "feature/WebAddress.h"

namespace quaylet {
namespace {

// A feed lists a handful of releases; anything this large is not one.
constexpr qsizetype kMaxFeedBytes = 1024 * 1024;
constexpr int kTransferTimeoutMilliseconds = 20'000;
constexpr QLatin1StringView kAppcastNamespace(
    "http://www.andymatuschak.org/xml-namespaces/sparkle");

struct Release {
    SemanticVersion version;
    QUrl page;
};

// A failure to read the feed, worded for the user.
struct FeedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::optional<QUrl> webLink(QStringView text) {
    const QUrl url(text.trimmed().toString(), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (url.isValid() && !url.host().isEmpty() &&
        (scheme == QLatin1String("https") || scheme == QLatin1String("http"))) {
        return url;
    }
    return std::nullopt;
}

// One <item>: its version from the enclosure (the short, human version when given), and the
// page to send the browser to, preferring the item's link over the download itself.
std::optional<Release> readItem(QXmlStreamReader& reader) {
    std::optional<SemanticVersion> version;
    std::optional<QUrl> link;
    std::optional<QUrl> enclosure;
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("link") && reader.namespaceUri().isEmpty()) {
            link = webLink(reader.readElementText());
        } else if (reader.name() == QLatin1String("enclosure") && reader.namespaceUri().isEmpty()) {
            const QXmlStreamAttributes attributes = reader.attributes();
            QStringView text =
                attributes.value(kAppcastNamespace, QLatin1StringView("shortVersionString"));
            if (text.isEmpty()) {
                text = attributes.value(kAppcastNamespace, QLatin1StringView("version"));
            }
            version = SemanticVersion::parse(text.toString().toStdString());
            enclosure = webLink(attributes.value(QLatin1StringView("url")));
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (!version) {
        return std::nullopt;
    }
    return Release{*version, link ? *link : enclosure.value_or(QUrl())};
}

// The newest release the feed lists. Throws FeedError when the bytes are not such a feed.
Release newestRelease(const QByteArray& feed) {
    QXmlStreamReader reader(feed);
    std::optional<Release> newest;
    bool sawRss = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::DTD) {
            // Entity declarations are how XML is made to blow up; feeds have no need of them.
            throw FeedError(
                "The update feed declares a document type, which Quaylet doesn’t "
                "accept. Ask the feed’s publisher to remove it.");
        }
        if (token != QXmlStreamReader::StartElement) {
            continue;
        }
        if (!sawRss) {
            if (reader.name() != QLatin1String("rss")) {
                throw FeedError("The update feed isn’t an RSS feed. Check the feed’s address.");
            }
            sawRss = true;
        } else if (reader.name() == QLatin1String("item")) {
            const std::optional<Release> release = readItem(reader);
            if (release && (!newest || release->version > newest->version)) {
                newest = release;
            }
        }
    }
    if (reader.hasError()) {
        throw FeedError(QStringLiteral("The update feed isn’t valid XML (line %1: %2). Try again "
                                       "later.")
                            .arg(reader.lineNumber())
                            .arg(reader.errorString())
                            .toStdString());
    }
    if (!newest) {
        throw FeedError("The update feed lists no versions of Quaylet. Try again later.");
    }
    return *newest;
}

UpdateCheckResult failure(const QString& sentence) {
    return {UpdateCheckResult::Outcome::failed,
            QStringLiteral("Quaylet couldn’t check for updates"),
            sentence,
            {},
            {}};
}

QString versionText(const SemanticVersion& version) {
    return QString::fromStdString(version.description());
}

}  // namespace

FeedUpdateController::FeedUpdateController(QString feedAddress, SemanticVersion runningVersion,
                                           QObject* parent)
    : UpdateController(parent),
      feedAddress_(std::move(feedAddress)),
      runningVersion_(runningVersion) {}

FeedUpdateController::~FeedUpdateController() {
    if (reply_) {
        // Nobody is left to tell: an abort must not report a result from a half-gone object.
        disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
    }
}

QString FeedUpdateController::configuredFeedAddress() {
    if (qEnvironmentVariableIsSet("QUAYLET_UPDATE_FEED")) {
        return qEnvironmentVariable("QUAYLET_UPDATE_FEED");
    }
    return QStringLiteral(QUAYLET_UPDATE_FEED);
}

void FeedUpdateController::checkForUpdates() {
    if (reply_) {
        return;
    }
    emit checkStarted();
    if (feedAddress_.isEmpty()) {
        emit checkFinished({UpdateCheckResult::Outcome::noFeed,
                            QStringLiteral("Updates come with your system’s packages"),
                            QStringLiteral("Update Quaylet with your system’s package manager, "
                                           "together with your other software."),
                            {},
                            {}});
        return;
    }
    // Fetched over https only; plain http only from this computer (a local feed).
    const std::optional<QUrl> feed = webLink(feedAddress_);
    if (!feed || !isPermittedWebAddress(*feed)) {
        emit checkFinished(failure(QStringLiteral("The update feed address “%1” isn’t an https "
                                                  "address. Correct QUAYLET_UPDATE_FEED, then "
                                                  "try again.")
                                       .arg(feedAddress_)));
        return;
    }
    QNetworkRequest request(*feed);
    request.setTransferTimeout(kTransferTimeoutMilliseconds);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Quaylet/%1").arg(versionText(runningVersion_)));
    body_.clear();
    insecureRedirect_ = false;
    reply_ = network_.get(request);
    connect(reply_, &QNetworkReply::redirected, this, [this](const QUrl& target) {
        if (isPermittedWebAddress(target)) {
            emit reply_->redirectAllowed();
            return;
        }
        insecureRedirect_ = true;
        reply_->abort();
    });
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        takeBody(*reply_);
        if (body_.size() > kMaxFeedBytes) {
            reply_->abort();
        }
    });
    connect(reply_, &QNetworkReply::finished, this, &FeedUpdateController::finished);
}

void FeedUpdateController::finished() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError) {
        takeBody(*reply);
    }
    if (insecureRedirect_) {
        emit checkFinished(failure(
            QStringLiteral("The update feed moved to an address that isn’t secure, so Quaylet "
                           "didn’t follow it. Check the feed’s address.")));
    } else if (body_.size() > kMaxFeedBytes) {
        emit checkFinished(failure(
            QStringLiteral("The update feed is larger than 1 MiB, so Quaylet didn’t read it. "
                           "Check the feed’s address.")));
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        emit checkFinished(
            failure(QStringLiteral("The update server didn’t answer in time. "
                                   "Check your connection, then try again.")));
    } else if (status != 0 && (status < 200 || status > 299)) {
        emit checkFinished(failure(QStringLiteral("The update server answered with HTTP status "
                                                  "%1. Try again later.")
                                       .arg(status)));
    } else if (reply->error() != QNetworkReply::NoError) {
        emit checkFinished(failure(QStringLiteral("Quaylet couldn’t reach the update server "
                                                  "(%1). Check your connection, then try again.")
                                       .arg(reply->errorString())));
    } else {
        emit checkFinished(resultOfFeed(body_));
    }
}

void FeedUpdateController::takeBody(QNetworkReply& reply) {
    // One byte over the limit is enough to know that the feed is too large.
    body_ += reply.read(kMaxFeedBytes + 1 - body_.size());
}

UpdateCheckResult FeedUpdateController::resultOfFeed(const QByteArray& feed) const {
    Release newest;
    try {
        newest = newestRelease(feed);
    } catch (const FeedError& error) {
        return failure(QString::fromStdString(error.what()));
    }
    const QString running = versionText(runningVersion_);
    if (newest.version <= runningVersion_) {
        return {UpdateCheckResult::Outcome::upToDate,
                QStringLiteral("Quaylet is up to date"),
                QStringLiteral("Quaylet %1 is the newest version available.").arg(running),
                {},
                {}};
    }
    const QString available = versionText(newest.version);
    return {UpdateCheckResult::Outcome::updateAvailable,
            QStringLiteral("Quaylet %1 is available").arg(available),
            newest.page.isEmpty()
                ? QStringLiteral("You have Quaylet %1. Update it the way you installed it.")
                      .arg(running)
                : QStringLiteral("You have Quaylet %1. Download the new version from its page.")
                      .arg(running),
            available, newest.page};
}

std::unique_ptr<UpdateController> makeUpdateController() {
    return std::make_unique<FeedUpdateController>(
        FeedUpdateController::configuredFeedAddress(),
        SemanticVersion::parse(QUAYLET_VERSION).value_or(SemanticVersion{}));
}

}  // namespace quaylet
