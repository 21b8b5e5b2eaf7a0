#include "core/service/AbsoluteURL.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <new>

#include "core/support/TextComparison.h"

namespace quaylet {
namespace {

// A part of a parsed URL, empty when it has none.
std::string partOf(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (libcurl().urlGet(url, part, &text, 0) != CURLUE_OK) {
        return {};
    }
    std::string result(text);
    libcurl().free(text);
    return result;
}

}  // namespace

CurlURL parseAbsoluteURL(const std::string& text) {
    CurlURL url(libcurl().url());
    if (!url) {
        throw std::bad_alloc();
    }
    char* host = nullptr;
    const bool valid = libcurl().urlSet(url.get(), CURLUPART_URL, text.c_str(), 0) == CURLUE_OK &&
                       libcurl().urlGet(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    libcurl().free(host);
    return valid ? std::move(url) : CurlURL();
}

bool isLoopbackHost(std::string_view host) {
    if (equalsIgnoringCase(host, "localhost")) {
        return true;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string text(host);
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    return ::inet_pton(AF_INET6, text.c_str(), &v6) == 1 &&
           std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
}

bool isPermittedURL(const std::string& url, bool plainHTTPToLoopback) {
    const CurlURL parsed = parseAbsoluteURL(url);
    if (!parsed) {
        return false;
    }
    return isPermittedAddress(partOf(parsed.get(), CURLUPART_SCHEME),
                              partOf(parsed.get(), CURLUPART_HOST), plainHTTPToLoopback);
}

bool isPermittedAddress(std::string_view scheme, std::string_view host, bool plainHTTPToLoopback) {
    return equalsIgnoringCase(scheme, "https") ||
           (equalsIgnoringCase(scheme, "http") && plainHTTPToLoopback && isLoopbackHost(host));
}

}  // namespace quaylet
