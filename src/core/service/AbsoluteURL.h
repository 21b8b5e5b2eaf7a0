#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/service/Libcurl.h"

namespace quaylet {

struct CurlURLRelease {
    void operator()(CURLU* url) const { libcurl().urlCleanup(url); }
};
using CurlURL = std::unique_ptr<CURLU, CurlURLRelease>;

// The text parsed by libcurl's URL API when it is an absolute URL with a host; null
// otherwise. Throws std::bad_alloc when libcurl cannot allocate.
CurlURL parseAbsoluteURL(const std::string& text);

// Whether a host names this computer: "localhost", an IPv4 address in 127.0.0.0/8 or ::1
// (bracketed or not).
bool isLoopbackHost(std::string_view host);

// Whether Quaylet may send a request to url: https anywhere; plain http only to a loopback
// host, and only when plainHTTPToLoopback allows it (a service that itself runs on this
// computer). Anything else, including text that is not an absolute URL, is refused.
bool isPermittedURL(const std::string& url, bool plainHTTPToLoopback);

// The same rule for a URL whose scheme and host a caller has already parsed, for checks that
// must not load libcurl; every request is still checked with isPermittedURL.
bool isPermittedAddress(std::string_view scheme, std::string_view host, bool plainHTTPToLoopback);

}  // namespace quaylet
