#pragma once

#include <curl/curl.h>

namespace quaylet {

// The libcurl functions Quaylet calls. libcurl is loaded the first time they are asked for,
// not with the program: with it come the TLS, LDAP and SSH libraries it was built with, whose
// pages and start-up work a program that never reaches the network (a tray item idling all
// day) would otherwise carry. Loading it starts nothing: HTTPSession::start() does that.
struct Libcurl {
    decltype(&curl_global_init) globalInit;
    decltype(&curl_easy_init) easyInit;
    decltype(&curl_easy_setopt) easySetopt;
    decltype(&curl_easy_perform) easyPerform;
    decltype(&curl_easy_getinfo) easyGetinfo;
    decltype(&curl_easy_header) easyHeader;
    decltype(&curl_easy_strerror) easyStrerror;
    decltype(&curl_easy_cleanup) easyCleanup;
    decltype(&curl_share_init) shareInit;
    decltype(&curl_share_setopt) shareSetopt;
    decltype(&curl_share_cleanup) shareCleanup;
    decltype(&curl_slist_append) slistAppend;
    decltype(&curl_slist_free_all) slistFreeAll;
    decltype(&curl_strnequal) strnequal;
    decltype(&curl_url) url;
    decltype(&curl_url_set) urlSet;
    decltype(&curl_url_get) urlGet;
    decltype(&curl_url_cleanup) urlCleanup;
    decltype(&curl_free) free;
};

// Loads libcurl on the first call, from any thread; throws std::runtime_error when it cannot.
const Libcurl& libcurl();

}  // namespace quaylet
