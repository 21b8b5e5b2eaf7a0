#include "app/SystemSymbols.h"

#include <QHash>

namespace quaylet {
namespace {

const QHash<QString, QString>& table() {
    static const QHash<QString, QString> names = {
        {"play.square.stack", "media-playback-start-symbolic"},
        {"iphone.gen3.circle.fill", "phone-symbolic"},
        {"arrow.triangle.2.circlepath", "emblem-synchronizing-symbolic"},
        {"play.fill", "media-playback-start-symbolic"},
        {"ellipsis", "view-more-horizontal-symbolic"},
        {"exclamationmark", "dialog-warning-symbolic"},
        {"exclamationmark.triangle.fill", "dialog-warning-symbolic"},
        {"checkmark", "object-select-symbolic"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"},
        {"xmark.circle.fill", "window-close-symbolic"},
        {"circle.dotted", "content-loading-symbolic"},
        {"iphone.gen3.badge.play", "phone-symbolic"},
        {"link", ":/qt/qml/Quaylet/symbols/link.svg"},
        {"arrow.down.app.fill", "folder-download-symbolic"},
        {"arrow.clockwise", "view-refresh-symbolic"},
        {"eye", "view-reveal-symbolic"},
        {"tray", ":/qt/qml/Quaylet/symbols/tray.svg"},
        {"checkmark.shield", ":/qt/qml/Quaylet/symbols/checkmark.shield.svg"},
        {"person.crop.circle.badge.questionmark", "avatar-default-symbolic"},
        {"folder", "folder-symbolic"},
        {"arrow.up", "go-up-symbolic"},
    };
    return names;
}

}  // namespace

QIcon SystemSymbols::icon(const QString& symbol) {
    const QString picture = table().value(symbol);
    if (picture.isEmpty()) {
        return {};
    }
    // The shipped pictures are resources, named by their paths.
    return picture.startsWith(QLatin1Char(':')) ? QIcon(picture) : QIcon::fromTheme(picture);
}

QStringList SystemSymbols::symbols() {
    return table().keys();
}

}  // namespace quaylet
