#include "core/service/Libcurl.h"

#include "core/support/SharedLibrary.h"

namespace quaylet {
namespace {

#ifdef __APPLE__
constexpr const char* kLibraryName = "libcurl.4.dylib";
#else
constexpr const char* kLibraryName = "libcurl.so.4";
#endif

Libcurl load() {
    const SharedLibrary library(kLibraryName, "libcurl", "libcurl 7.84 or later");
    Libcurl functions{};
    library.find(functions.globalInit, "curl_global_init");
    library.find(functions.easyInit, "curl_easy_init");
    library.find(functions.easySetopt, "curl_easy_setopt");
    library.find(functions.easyPerform, "curl_easy_perform");
    library.find(functions.easyGetinfo, "curl_easy_getinfo");
    library.find(functions.easyHeader, "curl_easy_header");
    library.find(functions.easyStrerror, "curl_easy_strerror");
    library.find(functions.easyCleanup, "curl_easy_cleanup");
    library.find(functions.shareInit, "curl_share_init");
    library.find(functions.shareSetopt, "curl_share_setopt");
    library.find(functions.shareCleanup, "curl_share_cleanup");
    library.find(functions.slistAppend, "curl_slist_append");
    library.find(functions.slistFreeAll, "curl_slist_free_all");
    library.find(functions.strnequal, "curl_strnequal");
    library.find(functions.url, "curl_url");
    library.find(functions.urlSet, "curl_url_set");
    library.find(functions.urlGet, "curl_url_get");
    library.find(functions.urlCleanup, "curl_url_cleanup");
    library.find(functions.free, "curl_free");
    return functions;
}

}  // namespace

const Libcurl& libcurl() {
    static const Libcurl functions = load();
    return functions;
}

}  // namespace quaylet
