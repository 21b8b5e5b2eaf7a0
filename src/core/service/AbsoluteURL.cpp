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
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) {
        return {};
    }
    std::string result(text);
    curl_free(text);
    return result;
}

}  // namespace

CurlURL parseAbsoluteURL(const std::string& text) {
    CurlURL url(curl_url(), curl_url_cleanup);
    if (!url) {
        throw std::bad_alloc();
    }
    char* host = nullptr;
    const bool valid = curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) == CURLUE_OK &&
                       curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK;
    curl_free(host);
    return valid ? std::move(url) : CurlURL(nullptr, curl_url_cleanup);
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
    const std::string scheme = partOf(parsed.get(), CURLUPART_SCHEME);
    return equalsIgnoringCase(scheme, "https") ||
           (equalsIgnoringCase(scheme, "http") && plainHTTPToLoopback &&
            isLoopbackHost(partOf(parsed.get(), CURLUPART_HOST)));
}

}  // namespace quaylet
