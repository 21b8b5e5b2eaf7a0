#include "core/service/AbsoluteURL.h"

#include <new>

namespace quaylet {

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

}  // namespace quaylet
