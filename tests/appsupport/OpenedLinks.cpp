#include "appsupport/OpenedLinks.h"

#include <QDesktopServices>

namespace quaylet::testing {

OpenedLinks::OpenedLinks() {
    QDesktopServices::setUrlHandler("http", this, "open");
    QDesktopServices::setUrlHandler("https", this, "open");
}

OpenedLinks::~OpenedLinks() {
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("https");
}

void OpenedLinks::open(const QUrl& url) {
    urls_.append(url);
}

}  // namespace quaylet::testing
