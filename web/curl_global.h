#pragma once
// Process-wide libcurl state: the library initialised once, and one share handle that holds the
// cookie store and the DNS cache every page fetch uses. Both come into being at the first call,
// also when several threads make that call together.
#include <curl/curl.h>

#include <memory>

// Initialises libcurl once for the process; false when that failed (every transfer then fails).
bool curl_ready();

// The share handle holding the process's cookie store (and DNS cache); nullptr when libcurl could
// not be initialised. An easy handle attached to it reads and writes the shared cookies.
CURLSH* shared_curl_store();

struct CurlEasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct CurlSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// A fresh easy handle (after curl_ready); empty when libcurl is unusable.
CurlEasy make_curl_easy();
