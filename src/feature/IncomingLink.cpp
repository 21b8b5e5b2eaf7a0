#include "feature/IncomingLink.h"

#include <QUrlQuery>

#include <algorithm>

namespace quaylet {
namespace {

const QString kScheme = QStringLiteral("quaylet");

// The identifier becomes a request path and a cache folder name further down, so names
// that mean something to a file system (".", "..", control characters such as NUL, which
// would cut a path short) are refused here rather than trusted downstream.
bool isUsableIdentifier(const QString& identifier) {
    if (identifier.isEmpty() || identifier == QStringLiteral(".") ||
        identifier == QStringLiteral("..")) {
        return false;
    }
    return std::none_of(identifier.begin(), identifier.end(), [](QChar character) {
        return character.category() == QChar::Other_Control;
    });
}

}  // namespace

IncomingLink parseIncomingLink(const QUrl& url) {
    if (url.scheme() != kScheme) {
        return UnusableLink{};
    }
    if (url.host() == QStringLiteral("auth")) {
        const QUrlQuery query(url);
        for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
            if (name == QStringLiteral("code")) {
                if (value.isEmpty()) {
                    return UnusableLink{};
                }
                return SignInReturnLink{value.toStdString()};
            }
        }
        return UnusableLink{};
    }
    if (url.host() == QStringLiteral("preview")) {
        // Decoding first and splitting after matches how path components are read: an
        // encoded slash separates components, and empty components are skipped.
        const QStringList components =
            url.path(QUrl::FullyDecoded).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (!components.isEmpty() && isUsableIdentifier(components.first())) {
            return PreviewLink{components.first().toStdString()};
        }
    }
    return UnusableLink{};
}

}  // namespace quaylet
