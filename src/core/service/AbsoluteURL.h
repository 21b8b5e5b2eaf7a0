#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/service/Libcurl.h"

// The core's one URL parser, libcurl's URL API, so that what is checked is what libcurl
// then fetches. Nothing else in the core calls that API.
namespace quaylet {

struct CurlURLRelease {
    void operator()(CURLU* url) const { libcurl().urlCleanup(url); }
};
using CurlURL = std::unique_ptr<CURLU, CurlURLRelease>;

// The text parsed with libcurl's flags (CURLU_*) when it is a URL that names its scheme; null
// otherwise. Throws std::bad_alloc when libcurl cannot allocate.
CurlURL parseURL(const std::string& text, unsigned int flags = 0);

// One part of a parsed URL (CURLUPART_*), empty when it has none.
std::string urlPart(const CurlURL& url, CURLUPart part);

// The reference (absolute, or relative such as a path or a redirect's Location) resolved
// against the base URL; none when either does not parse.
std::optional<std::string> resolveURL(const std::string& base, const std::string& reference);

// The text parsed when it is an absolute URL with a host; null otherwise.
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
