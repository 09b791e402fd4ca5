#include "cli/proxy_check.h"

#include <curl/curl.h>

#include <cstdlib>

#include "web/curl_global.h"

std::string http_proxy_from_environment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

bool proxy_reachable(const std::string& proxy_url) {
    if (!curl_ready()) return false;
    CurlEasy curl = make_curl_easy();
    if (!curl) return false;
    // The proxy itself is the target, reached directly.
    std::string url = proxy_url;
    if (url.find("://") == std::string::npos) url = "http://" + url;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(curl.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, 5000L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    return curl_easy_perform(curl.get()) == CURLE_OK;
}
