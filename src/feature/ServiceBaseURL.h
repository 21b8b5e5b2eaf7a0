#pragma once

#include <QUrl>

namespace quaylet {

inline constexpr const char* kDefaultServiceURL = "https://quaylet.dev";

// The preview service's base URL: QUAYLET_API_URL taken unchanged when it is set (even
// when empty), otherwise the default service. Throws std::runtime_error with a sentence for
// the user when the value is not an absolute URL with a host, or is not https (plain http only
// to this computer), before any request is made.
QUrl serviceBaseURL();

}  // namespace quaylet
