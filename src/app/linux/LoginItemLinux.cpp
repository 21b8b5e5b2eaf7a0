#include <QCoreApplication>
#include <QSaveFile>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/LoginItem.h"
#include "feature/UserFolders.h"

namespace quaylet {
namespace {

// The desktop's autostart folder beside Quaylet's own configuration folder.
std::filesystem::path autostartEntry() {
    return userConfigFolder().parent_path() / "autostart" / "quaylet.desktop";
}

// The program as a desktop entry's Exec value: quoted, with the characters the quoting
// rules reserve escaped. Absent for a path no entry can hold.
std::optional<QString> execValue(const QString& program) {
    if (program.isEmpty() || program.contains(QLatin1Char('\n')) ||
        program.contains(QLatin1Char('\r'))) {
        return std::nullopt;
    }
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        quoted += c;
    }
    // A backslash is also the value's own escape character, so each one is doubled again.
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

bool LoginItem::isInstalled() const {
    std::error_code error;
    return std::filesystem::is_regular_file(autostartEntry(), error);
}

QString LoginItem::install(bool installed) {
    const std::filesystem::path entry = autostartEntry();
    std::error_code error;
    if (!installed) {
        std::filesystem::remove(entry, error);
        return error ? QStringLiteral("Quaylet could not be removed from login: %1.")
                           .arg(QString::fromStdString(error.message()))
                     : QString();
    }
    const std::optional<QString> exec = execValue(QCoreApplication::applicationFilePath());
    if (!exec) {
        return QStringLiteral("Quaylet’s location cannot be started at login.");
    }
    std::filesystem::create_directories(entry.parent_path(), error);
    QSaveFile file(QString::fromStdString(entry.string()));
    const QByteArray contents = QStringLiteral(
                                    "[Desktop Entry]\n"
                                    "Type=Application\n"
                                    "Name=Quaylet\n"
                                    "Comment=Watches pull requests for new builds\n"
                                    "Exec=%1\n"
                                    "Icon=dev.quaylet.Quaylet\n"
                                    "Terminal=false\n"
                                    "X-GNOME-Autostart-enabled=true\n")
                                    .arg(*exec)
                                    .toUtf8();
    if (error || !file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() ||
        !file.commit()) {
        return QStringLiteral("Quaylet could not be added to login: %1.")
            .arg(error ? QString::fromStdString(error.message()) : file.errorString());
    }
    return {};
}

}  // namespace quaylet
