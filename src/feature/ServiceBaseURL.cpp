#include "feature/ServiceBaseURL.h"

#include <QByteArray>

#include <stdexcept>

#include "feature/WebAddress.h"

namespace quaylet {

QUrl serviceBaseURL() {
    const QByteArray variable = qgetenv("QUAYLET_API_URL");
    const QString text = qEnvironmentVariableIsSet("QUAYLET_API_URL")
                             ? QString::fromUtf8(variable)
                             : QString::fromLatin1(kDefaultServiceURL);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        throw std::runtime_error(
            "QUAYLET_API_URL is set to “" + text.toStdString() +
            "”, which is not a web address Quaylet can use. Set it to the preview service’s "
            "address, such as " +
            kDefaultServiceURL + ", or unset it.");
    }
    if (!isPermittedWebAddress(url)) {
        throw std::runtime_error(
            "QUAYLET_API_URL is set to “" + text.toStdString() +
            "”, which doesn’t use HTTPS. The preview service must use HTTPS; plain http:// is "
            "only for a service on this computer (localhost, 127.0.0.1 or ::1).");
    }
    return url;
}

}  // namespace quaylet
