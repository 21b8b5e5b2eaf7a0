#include "app/Appearance.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QStandardPaths>

#include "app/SystemSymbols.h"

namespace quaylet {

void applyAppearance() {
    // Not every platform plugin looks for icon sets where the desktop installs them.
    QStringList iconFolders = QIcon::themeSearchPaths();
    for (const QString& folder :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                   QStandardPaths::LocateDirectory)) {
        if (!iconFolders.contains(folder)) {
            iconFolders.append(folder);
        }
    }
    QIcon::setThemeSearchPaths(iconFolders);
    QIcon::setThemeName(SystemSymbols::kIconSet);
    const QString interfaceFont = QStringLiteral("Inter");
    if (QFontDatabase::hasFamily(interfaceFont)) {
        QFont font(interfaceFont);
        font.setPixelSize(13);
        QGuiApplication::setFont(font);
    }
}

}  // namespace quaylet
