#include "web/web_request.h"

#include <cctype>

#include "runtime/stop.h"
#include "web/curl_global.h"
#include "web/transfer_limits.h"

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

struct Sink {
    Bytes* body;
    size_t cap;
    bool over_cap = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t taken = append_capped(*sink->body, data, size * count, sink->cap);
    if (taken < size * count) sink->over_cap = true;  // ends the transfer
    return taken;
}

// Keeps the status of the latest response head; a redirect's target or a proxy's answer to a
// tunnel request starts a new one.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* status = static_cast<int*>(user);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        const size_t space = line.find(' ');
        int value = 0;
        for (size_t i = space == std::string_view::npos ? line.size() : space + 1;
             i < line.size() && line[i] >= '0' && line[i] <= '9' && value < 1000; ++i)
            value = value * 10 + (line[i] - '0');
        *status = value;
    }
    return size * count;
}

}  // namespace

std::string remove_dot_segments(std::string_view path) {
    // The classic input-buffer / output-buffer walk over the path's segments.
    std::string in(path), out;
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.erase(0, 3);
        } else if (in.starts_with("./")) {
            in.erase(0, 2);
        } else if (in.starts_with("/./")) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.starts_with("/../") || in == "/..") {
            in = in.size() == 3 ? std::string("/") : in.substr(3);
            size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

std::string WebUrl::request_url() const {
    return scheme + "://" + host + ":" + std::to_string(port) + path_and_query;
}

std::optional<WebUrl> split_web_url(std::string_view url) {
    url = url.substr(0, url.find('#'));
    if (url.empty()) return std::nullopt;

    size_t colon = url.find(':');
    if (colon == std::string_view::npos || url.substr(colon + 1, 2) != "//") return std::nullopt;
    WebUrl parts;
    parts.scheme = lower(url.substr(0, colon));
    if (parts.scheme == "http")
        parts.port = 80;
    else if (parts.scheme == "https")
        parts.port = 443;
    else
        return std::nullopt;

    std::string_view rest = url.substr(colon + 3);
    size_t authority_end = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authority_end);
    std::string_view path_query =
        authority_end == std::string_view::npos ? std::string_view() : rest.substr(authority_end);

    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        std::string_view userinfo = authority.substr(0, at);
        size_t split = userinfo.find(':');
        parts.user = std::string(userinfo.substr(0, split));
        if (split != std::string_view::npos)
            parts.password = std::string(userinfo.substr(split + 1));
        authority.remove_prefix(at + 1);
    }

    std::string_view host = authority, port;
    if (authority.starts_with('[')) {  // IPv6 literal
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return std::nullopt;
            port = after.substr(1);
        }
    } else if (size_t p = authority.rfind(':'); p != std::string_view::npos) {
        host = authority.substr(0, p);
        port = authority.substr(p + 1);
    }
    if (host.empty()) return std::nullopt;
    parts.host = std::string(host);
    if (!port.empty()) {
        if (!all_digits(port) || port.size() > 5) return std::nullopt;
        int value = std::stoi(std::string(port));
        if (value < 1 || value > 65535) return std::nullopt;
        parts.port = value;
    }

    size_t query = path_query.find('?');
    std::string path(path_query.substr(0, query));
    if (path.empty()) path = "/";
    parts.path_and_query = remove_dot_segments(path);
    if (!parts.path_and_query.starts_with('/')) parts.path_and_query.insert(0, "/");
    if (query != std::string_view::npos) parts.path_and_query += path_query.substr(query);

    if (parts.host.size() > kMaxHostLength ||
        parts.path_and_query.size() > kMaxPathAndQueryLength ||
        parts.user.size() > kMaxUserLength || parts.password.size() > kMaxPasswordLength)
        return std::nullopt;
    return parts;
}

Bytes WebRequest(std::string_view url) {
    return WebRequestAnswer(url).body;
}

WebAnswer WebRequestAnswer(std::string_view url) {
    WebAnswer answer;
    std::optional<WebUrl> parts = split_web_url(url);
    if (!parts) return answer;
    CURLSH* share = shared_curl_store();
    CurlEasy easy = make_curl_easy();
    if (!share || !easy) return answer;
    CURL* h = easy.get();
    const TransferLimits limits = transfer_limits();

    Sink sink{&answer.body, limits.max_body_bytes};
    std::string target = parts->request_url();
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);  // already resolved; keep the bytes as given
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_USERAGENT, kWebRequestAgent);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    // Exactly one Accept and the agent; nothing is cached on this side, so no cache header either.
    CurlSlist headers(curl_slist_append(nullptr, "Accept: */*"));
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (!parts->user.empty() || !parts->password.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, parts->user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, parts->password.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
    curl_easy_setopt(h, CURLOPT_SHARE, share);
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // cookie engine on, over the shared store
    // The receive buffer is sized before the response is known, so it takes the largest read a
    // page may get (102400); a page announcing less arrives in one chunk just the same.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 102400L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer.status);
    apply_transfer_limits(h, limits);

    // Whatever arrived is the answer: the whole body, or the prefix before a break, time-out or
    // Stop. An answer over the size cap is no page at all: its first part would pass for a whole
    // one.
    answer.complete = perform_transfer(h, limits, current_stop_token()) == CURLE_OK;
    if (sink.over_cap) return {};
    char* reached = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &reached) == CURLE_OK && reached)
        answer.reached_url = reached;
    if (!answer.complete) answer.status = 0;
    return answer;
}
