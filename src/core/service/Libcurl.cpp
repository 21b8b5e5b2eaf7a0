#include "core/service/Libcurl.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace quaylet {
namespace {

#ifdef __APPLE__
constexpr const char* kLibraryName = "libcurl.4.dylib";
#else
constexpr const char* kLibraryName = "libcurl.so.4";
#endif

template <typename Function>
void find(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (function == nullptr) {
        throw std::runtime_error(std::string("libcurl has no ") + name +
                                 "; Quaylet needs libcurl 7.84 or later.");
    }
}

Libcurl load() {
    // Never unloaded: libcurl and what it brings stay until the process ends.
    void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        throw std::runtime_error(std::string("libcurl could not be loaded: ") +
                                 (reason != nullptr ? reason : kLibraryName));
    }
    Libcurl functions{};
    find(library, functions.globalInit, "curl_global_init");
    find(library, functions.easyInit, "curl_easy_init");
    find(library, functions.easySetopt, "curl_easy_setopt");
    find(library, functions.easyPerform, "curl_easy_perform");
    find(library, functions.easyGetinfo, "curl_easy_getinfo");
    find(library, functions.easyHeader, "curl_easy_header");
    find(library, functions.easyStrerror, "curl_easy_strerror");
    find(library, functions.easyCleanup, "curl_easy_cleanup");
    find(library, functions.shareInit, "curl_share_init");
    find(library, functions.shareSetopt, "curl_share_setopt");
    find(library, functions.shareCleanup, "curl_share_cleanup");
    find(library, functions.slistAppend, "curl_slist_append");
    find(library, functions.slistFreeAll, "curl_slist_free_all");
    find(library, functions.strnequal, "curl_strnequal");
    find(library, functions.url, "curl_url");
    find(library, functions.urlSet, "curl_url_set");
    find(library, functions.urlGet, "curl_url_get");
    find(library, functions.urlCleanup, "curl_url_cleanup");
    find(library, functions.free, "curl_free");
    return functions;
}

}  // namespace

const Libcurl& libcurl() {
    static const Libcurl functions = load();
    return functions;
}

}  // namespace quaylet
