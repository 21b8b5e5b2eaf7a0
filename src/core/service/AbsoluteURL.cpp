#include "core/service/AbsoluteURL.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <new>

#include "core/support/TextComparison.h"

namespace quaylet {

CurlURL parseURL(const std::string& text, unsigned int flags) {
    CurlURL url(libcurl().url());
    if (!url) {
        throw std::bad_alloc();
    }
    return libcurl().urlSet(url.get(), CURLUPART_URL, text.c_str(), flags) == CURLUE_OK
               ? std::move(url)
               : CurlURL();
}

std::string urlPart(const CurlURL& url, CURLUPart part) {
    char* text = nullptr;
    if (libcurl().urlGet(url.get(), part, &text, 0) != CURLUE_OK) {
        return {};
    }
    std::string result(text);
    libcurl().free(text);
    return result;
}

std::optional<std::string> resolveURL(const std::string& base, const std::string& reference) {
    const CurlURL url = parseURL(base);
    if (!url || libcurl().urlSet(url.get(), CURLUPART_URL, reference.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    std::string resolved = urlPart(url, CURLUPART_URL);
    return resolved.empty() ? std::nullopt : std::optional(std::move(resolved));
}

CurlURL parseAbsoluteURL(const std::string& text) {
    CurlURL url = parseURL(text);
    return url && !urlPart(url, CURLUPART_HOST).empty() ? std::move(url) : CurlURL();
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
    return isPermittedAddress(urlPart(parsed, CURLUPART_SCHEME), urlPart(parsed, CURLUPART_HOST),
                              plainHTTPToLoopback);
}

bool isPermittedAddress(std::string_view scheme, std::string_view host, bool plainHTTPToLoopback) {
    return equalsIgnoringCase(scheme, "https") ||
           (equalsIgnoringCase(scheme, "http") && plainHTTPToLoopback && isLoopbackHost(host));
}

}  // namespace quaylet
