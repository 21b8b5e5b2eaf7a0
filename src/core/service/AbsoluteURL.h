#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace quaylet {

using CurlURL = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// The text parsed by libcurl's URL API when it is an absolute URL with a host; null
// otherwise. Throws std::bad_alloc when libcurl cannot allocate.
CurlURL parseAbsoluteURL(const std::string& text);

}  // namespace quaylet
