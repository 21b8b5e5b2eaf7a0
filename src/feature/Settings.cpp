#include "feature/Settings.h"

#include "core/simulator/SimulatorRepairs.h"
#include "core/support/FileTree.h"
#include "feature/UserFolders.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quaylet {
namespace {

enum class FileState { missing, unreadable, corrupt, valid };

struct Contents {
    FileState state;
    QJsonObject object;
};

QString qtPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

Contents readContents(const std::filesystem::path& path) {
    QFile file(qtPath(path));
    if (!file.exists()) {
        return {FileState::missing, {}};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return {FileState::unreadable, {}};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return {FileState::corrupt, {}};
    }
    return {FileState::valid, document.object()};
}

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, std::errc code) {
    throw std::filesystem::filesystem_error(what, path, std::make_error_code(code));
}

void moveAside(const std::filesystem::path& path) {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz'Z'"));
    std::filesystem::path aside = path;
    aside += ".corrupt-" + stamp.toStdString();
    std::filesystem::rename(path, aside);
}

}  // namespace

Settings::Settings(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path Settings::defaultFile() {
    return userConfigFolder() / "settings.json";
}

std::string Settings::preferredSimulatorUDID() const {
    return value(kPreferredSimulatorKey).toString().toStdString();
}

std::string Settings::preferredEmulator() const {
    return value(kPreferredEmulatorKey).toString().toStdString();
}

bool Settings::activateSimulator() const {
    const QJsonValue stored = value(kActivateSimulatorKey);
    return stored.isBool() ? stored.toBool() : true;
}

bool Settings::startSimulatorWhileDownloading() const {
    const QJsonValue stored = value(kBootEarlyKey);
    return stored.isBool() ? stored.toBool() : true;
}

QJsonArray Settings::watches() const {
    return value(kWatchesKey).toArray();
}

double Settings::cacheLimitGB() const {
    const QJsonValue stored = value(kCacheLimitKey);
    const double gigabytes = stored.toDouble(-1);
    return stored.isDouble() && std::isfinite(gigabytes) && gigabytes >= 0 ? gigabytes
                                                                           : kDefaultCacheLimitGB;
}

std::uintmax_t Settings::cacheLimitBytes() const {
    const double gigabytes = cacheLimitGB();
    if (gigabytes == 0) {
        return 0;
    }
    const auto bytes =
        static_cast<std::uintmax_t>(std::llround(std::min(gigabytes, kLargestCacheLimitGB) * 1e9));
    return std::max<std::uintmax_t>(bytes, 1);
}

bool Settings::isValidCacheLimitGB(double gigabytes) {
    return gigabytes == 0 ||
           (gigabytes >= kSmallestCacheLimitGB && gigabytes <= kLargestCacheLimitGB);
}

void Settings::setCacheLimitGB(double gigabytes) {
    if (!isValidCacheLimitGB(gigabytes)) {
        throw std::invalid_argument(kCacheLimitRange);
    }
    write(kCacheLimitKey, gigabytes);
}

std::chrono::seconds Settings::bootTimeout() const {
    const double seconds = value(kBootTimeoutKey).toDouble(0);
    return seconds >= 1 && seconds <= kMaxBootTimeoutSeconds && seconds == std::floor(seconds)
               ? std::chrono::seconds(static_cast<int>(seconds))
               : RepairSettings::kDefaultBootTimeout;
}

void Settings::setBootTimeoutSeconds(int seconds) {
    if (seconds < 1 || seconds > kMaxBootTimeoutSeconds) {
        throw std::invalid_argument(
            "bootTimeoutSeconds takes a whole number of seconds from 1 to " +
            std::to_string(kMaxBootTimeoutSeconds) + ".");
    }
    write(kBootTimeoutKey, seconds);
}

void Settings::setPreferredSimulatorUDID(const std::string& udid) {
    write(kPreferredSimulatorKey, QString::fromStdString(udid));
}

void Settings::setPreferredEmulator(const std::string& name) {
    write(kPreferredEmulatorKey, QString::fromStdString(name));
}

void Settings::setActivateSimulator(bool activate) {
    write(kActivateSimulatorKey, activate);
}

void Settings::setStartSimulatorWhileDownloading(bool start) {
    write(kBootEarlyKey, start);
}

void Settings::setWatches(const QJsonArray& watches) {
    write(kWatchesKey, watches);
}

QJsonValue Settings::value(const char* key) const {
    // Missing, unreadable and corrupt files all read as the defaults.
    return readContents(file_).object.value(QLatin1String(key));
}

void Settings::write(const char* key, const QJsonValue& value) {
    Contents contents = readContents(file_);
    if (contents.state == FileState::unreadable) {
        fail("The settings file cannot be read, so it is not replaced", file_,
             std::errc::permission_denied);
    }
    if (contents.state == FileState::corrupt) {
        moveAside(file_);
    }
    contents.object.insert(QLatin1String(key), value);

    createPrivateFolder(file_.parent_path());
    QSaveFile file(qtPath(file_));
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        fail("The settings file cannot be written", file_, std::errc::io_error);
    }
    const QByteArray bytes = QJsonDocument(contents.object).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        fail("The settings file cannot be written", file_, std::errc::io_error);
    }
}

}  // namespace quaylet
