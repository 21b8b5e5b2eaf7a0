#include "feature/ServiceBaseURL.h"

#include <QByteArray>

#include <stdexcept>

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
    return url;
}

}  // namespace quaylet
