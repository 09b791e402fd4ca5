#include "web/cookie_store.h"

#include <curl/curl.h>

#include <atomic>
#include <ctime>

#include "web/curl_global.h"

namespace {

std::atomic<std::uint64_t> changes{0};

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
    const bool stored = store_line(cookie, fallback_host, expires);
    if (stored) changes.fetch_add(1);
    return stored;
}

bool remove_cookie(const Cookie& cookie, std::string_view fallback_host) {
    // An expired cookie replaces the stored one and drops out of the store with it.
    const bool stored = store_line(cookie, fallback_host, 1);
    if (stored) changes.fetch_add(1);
    return stored;
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
    changes.fetch_add(1);
}

std::uint64_t cookie_changes() {
    return changes.load();
}

std::string cookie_header_for(std::string_view url) {
    const size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) return {};
    const bool https = url.substr(0, scheme_end) == "https";
    std::string_view rest = url.substr(scheme_end + 3);
    const size_t path_start = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, path_start);
    if (const size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string host(authority.substr(0, authority.find(':')));
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string_view path =
        path_start == std::string_view::npos ? std::string_view("/") : rest.substr(path_start);
    path = path.substr(0, path.find_first_of("?#"));
    if (path.empty()) path = "/";

    std::string header;
    for (const Cookie& c : list_cookies()) {
        std::string domain = c.domain;
        for (char& ch : domain)
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        bool domain_matches = domain == host;
        if (!domain_matches && c.include_subdomains()) {
            const std::string_view bare = std::string_view(domain).substr(1);
            domain_matches =
                host == bare || (host.size() > domain.size() && host.ends_with(domain));
        }
        if (!domain_matches || (c.secure && !https)) continue;
        const std::string_view cookie_path = c.path.empty() ? std::string_view("/") : c.path;
        const bool path_matches = path.starts_with(cookie_path) &&
                                  (path.size() == cookie_path.size() ||
                                   cookie_path.ends_with('/') || path[cookie_path.size()] == '/');
        if (!path_matches) continue;
        if (!header.empty()) header += "; ";
        header += c.name + "=" + c.value;
    }
    return header;
}
