#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>
#include <QVariant>

#include "app/ReducedMotionSetting.h"

namespace quaylet {
namespace {

// GNOME keeps the choice in its settings, which the desktop portal hands to every
// application over the session bus (the program is already on it). Reading GSettings
// directly would load its machinery, a dconf module and two more threads with the window.
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettings = "org.freedesktop.portal.Settings";
constexpr const char* kNamespace = "org.gnome.desktop.interface";
constexpr const char* kKey = "enable-animations";

class PortalSetting : public QObject {
    Q_OBJECT

  public:
    explicit PortalSetting(std::function<void(bool)> report) : report_(std::move(report)) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(kPortal, kPortalPath, kSettings, QStringLiteral("SettingChanged"), this,
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
        QDBusMessage read =
            QDBusMessage::createMethodCall(kPortal, kPortalPath, kSettings, QStringLiteral("Read"));
        read << QString::fromLatin1(kNamespace) << QString::fromLatin1(kKey);
        auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
        connect(answer, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* finished) {
                    const QDBusPendingReply<QDBusVariant> reply = *finished;
                    if (reply.isValid()) {
                        reportValue(reply.value().variant());
                    }
                    finished->deleteLater();
                });
    }

  private slots:
    void settingChanged(const QString& settingNamespace, const QString& key,
                        const QDBusVariant& value) {
        if (settingNamespace == QLatin1String(kNamespace) && key == QLatin1String(kKey)) {
            reportValue(value.variant());
        }
    }

  private:
    // Read wraps the value in one variant more than the change signal does.
    void reportValue(QVariant value) {
        if (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
            value = value.value<QDBusVariant>().variant();
        }
        if (value.typeId() == QMetaType::Bool) {
            report_(!value.toBool());
        }
    }

    std::function<void(bool)> report_;
};

}  // namespace

std::shared_ptr<void> followDesktopAnimations(std::function<void(bool disabled)> report) {
    return std::make_shared<PortalSetting>(std::move(report));
}

}  // namespace quaylet

#include "ReducedMotionSettingLinux.moc"
