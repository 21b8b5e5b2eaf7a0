#include "feature/WebAddress.h"

#include "core/service/AbsoluteURL.h"

namespace quaylet {

bool isPermittedWebAddress(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           isPermittedAddress(url.scheme().toStdString(), url.host().toStdString(), true);
}

}  // namespace quaylet
