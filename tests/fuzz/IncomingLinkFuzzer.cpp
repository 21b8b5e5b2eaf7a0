// Links handed to the application by the browser or another program, parsed without launching.
#include <QString>
#include <QUrl>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>

#include "feature/IncomingLink.h"

namespace {

// The identifier becomes a request path and a cache folder name: it must never be one that
// means something to a file system.
bool isSafeIdentifier(const std::string& identifier) {
    return !identifier.empty() && identifier != "." && identifier != ".." &&
           identifier.find('/') == std::string::npos &&
           std::none_of(identifier.begin(), identifier.end(),
                        [](char byte) { return byte >= 0 && byte < 0x20; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QUrl url(
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const quaylet::IncomingLink link = quaylet::parseIncomingLink(url);
    const auto* preview = std::get_if<quaylet::PreviewLink>(&link);
    const auto* signIn = std::get_if<quaylet::SignInReturnLink>(&link);
    if ((preview != nullptr && !isSafeIdentifier(preview->previewID)) ||
        (signIn != nullptr && signIn->code.empty())) {
        std::abort();
    }
    return 0;
}
