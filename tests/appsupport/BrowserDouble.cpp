#include "appsupport/BrowserDouble.h"

#include <QDesktopServices>

namespace quaylet::testing {

BrowserDouble::BrowserDouble() {
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
}

BrowserDouble::~BrowserDouble() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void BrowserDouble::open(const QUrl& url) {
    openedURLs_.append(url);
}

}  // namespace quaylet::testing
