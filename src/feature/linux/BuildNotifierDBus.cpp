#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include <map>

#include "core/support/BundleIdentifier.h"
#include "feature/BuildNotifier.h"

namespace quaylet {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The one action, "Open", is the default one: a click on the notification opens the build,
// and a service that lists actions lists it once.
const QString kOpenAction = QStringLiteral("default");
// A notification service that does not answer within this time is treated as absent, so
// that the announcement falls back to the tray rather than holding the interface up.
constexpr int kReplyTimeoutMs = 2000;

// Desktop notifications through the session bus's org.freedesktop.Notifications service.
class DBusBuildNotifier : public BuildNotifier {
    Q_OBJECT

  public:
    DBusBuildNotifier() : bus_(QDBusConnection::sessionBus()) {
        bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                     SLOT(actionInvoked(uint, QString)));
        bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                     SLOT(notificationClosed(uint, uint)));
    }

    bool announce(const PreviewSummary& build) override {
        if (!bus_.isConnected()) {
            return false;
        }
        QDBusMessage notify =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        // The whole line goes in the summary, which servers show as plain text; the body may
        // be read as markup, and the title is the pull request's own text.
        notify << QStringLiteral("Quaylet") << 0u
               << QString::fromUtf8(kBundleIdentifier.data(),
                                    static_cast<qsizetype>(kBundleIdentifier.size()))
               << readyAnnouncement(build) << QString()
               << QStringList{kOpenAction, QStringLiteral("Open")} << QVariantMap() << -1;
        const QDBusMessage reply = bus_.call(notify, QDBus::Block, kReplyTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            return false;
        }
        shown_[reply.arguments().constFirst().toUInt()] = QString::fromStdString(build.previewID);
        return true;
    }

  private slots:
    void actionInvoked(uint id, const QString& action) {
        const auto found = shown_.find(id);
        if (found == shown_.end() || action != kOpenAction) {
            return;
        }
        const QString previewID = found->second;
        shown_.erase(found);
        // Some services keep a notification whose action was used; a used one is done.
        QDBusMessage close = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                            QStringLiteral("CloseNotification"));
        close << id;
        bus_.send(close);
        emit openRequested(previewID);
    }

    void notificationClosed(uint id, uint) { shown_.erase(id); }

  private:
    QDBusConnection bus_;
    std::map<uint, QString> shown_;  // our notifications still on screen, by their id
};

}  // namespace

std::shared_ptr<BuildNotifier> BuildNotifier::forThisHost() {
    return std::make_shared<DBusBuildNotifier>();
}

}  // namespace quaylet

#include "BuildNotifierDBus.moc"
