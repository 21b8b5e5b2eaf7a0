#include "feature/IncomingLink.h"

#include <QUrlQuery>

#include "core/service/PreviewIdentifier.h"

namespace quaylet {
namespace {

const QString kScheme = QStringLiteral("quaylet");

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
        if (!components.isEmpty() && isPreviewIdentifier(components.first().toStdString())) {
            return PreviewLink{components.first().toStdString()};
        }
    }
    return UnusableLink{};
}

}  // namespace quaylet
