#include "appsupport/BrowserDouble.h"

#include <QDesktopServices>

namespace quaylet::testing {

BrowserDouble::BrowserDouble() {
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
}

BrowserDouble::~BrowserDouble() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void BrowserDouble::open(const QUrl& page) {
    openedPages_.append(page);
}

}  // namespace quaylet::testing
