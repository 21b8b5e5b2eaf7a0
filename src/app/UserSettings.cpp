#include "app/UserSettings.h"

#include <filesystem>

namespace quaylet {

UserSettings::UserSettings(QObject* parent) : QObject(parent), settings_(Settings::defaultFile()) {}

QString UserSettings::preferredSimulatorUDID() const {
    return QString::fromStdString(settings_.preferredSimulatorUDID());
}

void UserSettings::setPreferredSimulatorUDID(const QString& udid) {
    save([&] { settings_.setPreferredSimulatorUDID(udid.toStdString()); },
         &UserSettings::preferredSimulatorUDIDChanged);
}

QString UserSettings::preferredEmulator() const {
    return QString::fromStdString(settings_.preferredEmulator());
}

void UserSettings::setPreferredEmulator(const QString& name) {
    save([&] { settings_.setPreferredEmulator(name.toStdString()); },
         &UserSettings::preferredEmulatorChanged);
}

bool UserSettings::activateSimulator() const {
    return settings_.activateSimulator();
}

void UserSettings::setActivateSimulator(bool activate) {
    save([&] { settings_.setActivateSimulator(activate); },
         &UserSettings::activateSimulatorChanged);
}

bool UserSettings::startSimulatorWhileDownloading() const {
    return settings_.startSimulatorWhileDownloading();
}

void UserSettings::setStartSimulatorWhileDownloading(bool start) {
    save([&] { settings_.setStartSimulatorWhileDownloading(start); },
         &UserSettings::startSimulatorWhileDownloadingChanged);
}

template <typename Write>
void UserSettings::save(Write write, void (UserSettings::*changed)()) {
    QString error;
    try {
        write();
    } catch (const std::filesystem::filesystem_error& failure) {
        error = QStringLiteral("Quaylet couldn’t save this setting: %1")
                    .arg(QString::fromStdString(failure.code().message()));
    }
    if (error != saveError_) {
        saveError_ = error;
        emit saveErrorChanged();
    }
    emit(this->*changed)();
}

}  // namespace quaylet
