#include "web/cookie_store.h"

#include <curl/curl.h>

#include <ctime>

#include "web/curl_global.h"

namespace {

// The store's line format (the Netscape cookie file) is tab separated, one cookie per line.
bool storable(std::string_view piece) {
    for (char c : piece)
        if (c == '\t' || c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

CurlEasy store_handle() {
    CURLSH* share = shared_curl_store();
    CurlEasy easy = make_curl_easy();
    if (!share || !easy) return {};
    curl_easy_setopt(easy.get(), CURLOPT_SHARE, share);
    curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, "");
    return easy;
}

std::string netscape_line(const Cookie& c, const std::string& domain, std::int64_t expires) {
    std::string line = c.http_only ? "#HttpOnly_" : "";
    line += domain;
    line += domain.starts_with('.') ? "\tTRUE\t" : "\tFALSE\t";
    line += c.path.empty() ? std::string("/") : c.path;
    line += c.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(expires) + "\t" + c.name + "\t" + c.value;
    return line;
}

bool store_line(const Cookie& c, std::string_view fallback_host, std::int64_t expires) {
    std::string domain = c.domain.empty() ? std::string(fallback_host) : c.domain;
    if (c.name.empty() || domain.empty()) return false;
    for (std::string_view piece : {std::string_view(c.name), std::string_view(c.value),
                                   std::string_view(domain), std::string_view(c.path)})
        if (!storable(piece)) return false;
    CurlEasy easy = store_handle();
    if (!easy) return false;
    std::string line = netscape_line(c, domain, expires);
    return curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK;
}

std::vector<std::string> split_tabs(std::string_view line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t tab = line.find('\t', start);
        fields.emplace_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return fields;
}

}  // namespace

bool add_cookie(const Cookie& cookie, std::string_view fallback_host) {
    // Expiry 0 in the store's format marks a session cookie.
    std::int64_t expires = cookie.expires.value_or(0);
    if (cookie.expires && expires <= 0) expires = 1;  // already expired: stays expired
    return store_line(cookie, fallback_host, expires);
}

bool remove_cookie(const Cookie& cookie, std::string_view fallback_host) {
    // An expired cookie replaces the stored one and drops out of the store with it.
    return store_line(cookie, fallback_host, 1);
}

std::vector<Cookie> list_cookies() {
    std::vector<Cookie> cookies;
    CurlEasy easy = store_handle();
    if (!easy) return cookies;
    curl_slist* raw = nullptr;
    if (curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &raw) != CURLE_OK) return cookies;
    CurlSlist list(raw);
    // The store keeps a removed cookie as an expired entry until its next look-up; it is gone.
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (curl_slist* item = list.get(); item; item = item->next) {
        std::vector<std::string> f = split_tabs(item->data);
        if (f.size() < 7) continue;
        Cookie c;
        c.domain = f[0];
        if (c.domain.starts_with("#HttpOnly_")) {
            c.http_only = true;
            c.domain.erase(0, 10);
        }
        if (f[1] == "TRUE" && !c.domain.starts_with('.')) c.domain = "." + c.domain;
        c.path = f[2];
        c.secure = f[3] == "TRUE";
        long long expires = 0;
        try {
            expires = std::stoll(f[4]);
        } catch (...) {
        }
        if (expires != 0 && expires <= now) continue;
        if (expires != 0) c.expires = expires;
        c.name = f[5];
        c.value = f[6];
        cookies.push_back(std::move(c));
    }
    return cookies;
}

void clear_cookies() {
    CurlEasy easy = store_handle();
    if (easy) curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "ALL");
}
