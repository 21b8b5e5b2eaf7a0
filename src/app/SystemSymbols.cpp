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
        {"link", "insert-link-symbolic"},
        {"arrow.down.app.fill", "folder-download-symbolic"},
        {"arrow.clockwise", "view-refresh-symbolic"},
        {"eye", "view-reveal-symbolic"},
        {"tray", "folder-symbolic"},
        {"checkmark.shield", "security-high-symbolic"},
        {"person.crop.circle.badge.questionmark", "avatar-default-symbolic"},
    };
    return names;
}

}  // namespace

QString SystemSymbols::iconName(const QString& symbol) {
    return table().value(symbol);
}

QIcon SystemSymbols::icon(const QString& symbol) {
    return QIcon::fromTheme(iconName(symbol));
}

QStringList SystemSymbols::symbols() {
    return table().keys();
}

}  // namespace quaylet
