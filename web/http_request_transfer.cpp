// One transfer of the request component: curl options from the opened request, run through the
// stop-aware transfer loop shared by both HTTP routes, on the object's kept channel.
#include <algorithm>
#include <chrono>
#include <new>

#include "web/http_ascii.h"
#include "web/http_request_engine.h"
#include "web/transfer_limits.h"

namespace {

// "No limit" for a time-out of 0 or less: longer than any run lasts.
constexpr std::chrono::milliseconds kUnlimited{std::chrono::hours(24 * 30)};

bool has_header(const auto& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return http_equals_no_case(h.name, name); });
}

}  // namespace

bool HttpRequestEngine::prepare_channel(Channel& channel) {
    if (channel.easy) return true;
    CurlEasy easy = make_curl_easy();
    CurlMulti multi(easy ? curl_multi_init() : nullptr);
    if (!easy || !multi) return false;
    CURL* h = easy.get();
    // Options for the channel's whole life: the object's jar and connections, the cookie engine
    // over that jar, the error text, the protocols, and where headers and body go.
    curl_easy_setopt(h, CURLOPT_SHARE, share_.get());
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, channel.detail);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    auto on_header = +[](char* data, size_t size, size_t count, void* user) -> size_t {
        auto& r = *static_cast<Response*>(user);
        const size_t length = size * count;
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        try {
            if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
                // A new response begins (an interim one or a redirect's target); the last counts.
                r = Response{};
                const size_t space = line.find(' ');
                std::string_view rest =
                    space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
                size_t i = 0;
                while (i < rest.size() && i < 3 && rest[i] >= '0' && rest[i] <= '9')
                    r.status = r.status * 10 + (rest[i++] - '0');
                r.status_text = Text(http_trim(rest.substr(i)));
            } else if (!line.empty()) {
                r.header_block.append(line).append("\r\n");
            }
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return length;
    };
    auto on_body = +[](char* data, size_t size, size_t count, void* user) -> size_t {
        auto& r = *static_cast<Response*>(user);
        const size_t length = size * count;
        if (r.truncated) return 0;
        size_t taken = 0;
        try {
            taken = append_capped(r.body, data, length, kBodyCap);
        } catch (const std::bad_alloc&) {
        }
        if (taken < length) {
            r.truncated = true;  // ends the transfer; the request fails and keeps nothing
            Bytes().swap(r.body);
        }
        return taken;
    };
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    channel.easy = std::move(easy);
    channel.multi = std::move(multi);
    return true;
}

std::pair<HttpRequestEngine::Response, Text> HttpRequestEngine::transfer(
    const Job& job, std::stop_token run_stop, std::stop_token abort_stop) {
    Response response;
    if (run_stop.stop_requested()) return {std::move(response), "Send: the transfer was stopped"};

    // Resolve and connect together bound curl's connect phase; the longer of send and receive is
    // how long the transfer may go without a byte moving either way.
    TransferLimits limits = transfer_limits();
    // In 64 bits: "no limit" callers pass INT_MAX, and the sum must not wrap to a 1 ms limit.
    const long long connect_ms =
        std::max<long long>(job.timeouts.resolve, 0) + std::max<long long>(job.timeouts.connect, 0);
    const long long idle_ms = std::max<long long>(job.timeouts.send, job.timeouts.receive);
    limits.connect_timeout =
        job.timeouts.connect > 0 ? std::chrono::milliseconds(connect_ms) : kUnlimited;
    limits.idle_timeout = idle_ms > 0 ? std::chrono::milliseconds(idle_ms) : kUnlimited;
    limits.max_body_bytes = kBodyCap;

    // The object's own channel, kept with its connection; a fresh one when a transfer of a copy
    // of the object on another thread holds it.
    std::unique_lock busy(channel_mutex_, std::try_to_lock);
    Channel spare;
    Channel& channel = busy.owns_lock() ? channel_ : spare;
    if (!prepare_channel(channel))
        return {std::move(response), "Send: the HTTP library could not be initialised"};
    CURL* h = channel.easy.get();
    apply_transfer_limits(h, limits);
    const char* const detail = channel.detail;
    channel.detail[0] = '\0';
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &response);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(h, CURLOPT_URL, job.url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION,
                     job.options.http11 ? CURL_HTTP_VERSION_1_1 : CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(h, CURLOPT_USERAGENT,
                     job.options.user_agent.empty() ? nullptr : job.options.user_agent.c_str());

    // Redirects: never from https down to http unless option 12 allows it.
    const bool secure = job.url.size() >= 6 && http_equals_no_case(job.url.substr(0, 6), "https:");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, job.options.redirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, long(job.options.max_redirects));
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR,
                     secure && !job.options.https_to_http ? "https" : "http,https");

    // Method and body. A body goes out with any method, as the platform does. Every option an
    // earlier request on the channel may have set is set again, to its value or its default.
    const bool with_body =
        (job.body && !job.body->empty()) || job.method == "POST" || job.method == "PUT";
    static const std::string no_body;
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    if (job.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else if (with_body) {
        const std::string& body = job.body ? *job.body : no_body;
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    }
    const bool custom =
        with_body ? job.method != "POST" : job.method != "GET" && job.method != "HEAD";
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, custom ? job.method.c_str() : nullptr);

    // Only the headers the caller set; curl's own Accept, Content-Type and Expect stay out. The
    // lines live in the channel's buffers, reused from request to request.
    std::size_t count = 0;
    auto add = [&](std::string_view name, std::string_view separator, std::string_view value) {
        if (count == channel.header_lines.size()) channel.header_lines.emplace_back();
        channel.header_lines[count++].assign(name).append(separator).append(value);
    };
    try {
        for (const auto& hd : job.headers)
            add(hd.name, ": ", hd.value);
        if (!has_header(job.headers, "Accept")) add("Accept:", "", "");
        if (with_body && !has_header(job.headers, "Content-Type")) add("Content-Type:", "", "");
        add("Expect:", "", "");
        channel.header_list.resize(count);
    } catch (const std::bad_alloc&) {
        return {std::move(response), "Send: out of memory"};
    }
    for (std::size_t i = 0; i < count; ++i) {
        channel.header_list[i].data = channel.header_lines[i].data();
        channel.header_list[i].next = i + 1 < count ? &channel.header_list[i + 1] : nullptr;
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, channel.header_list.data());

    const auto* server = job.server_login ? &*job.server_login : nullptr;
    curl_easy_setopt(h, CURLOPT_USERNAME, server ? server->first.c_str() : nullptr);
    curl_easy_setopt(h, CURLOPT_PASSWORD, server ? server->second.c_str() : nullptr);
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, server ? CURLAUTH_ANY : CURLAUTH_BASIC);
    // The system's proxy (no proxy option: curl reads http_proxy and friends), none, or named.
    curl_easy_setopt(h, CURLOPT_PROXY,
                     job.proxy_setting == kProxyDirect  ? ""
                     : job.proxy_setting == kProxyNamed ? job.proxy_server.c_str()
                                                        : nullptr);
    curl_easy_setopt(h, CURLOPT_NOPROXY,
                     job.proxy_setting == kProxyNamed ? job.proxy_bypass.c_str() : nullptr);
    const auto* proxy = job.proxy_login ? &*job.proxy_login : nullptr;
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, proxy ? proxy->first.c_str() : nullptr);
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, proxy ? proxy->second.c_str() : nullptr);
    curl_easy_setopt(h, CURLOPT_PROXYAUTH, proxy ? CURLAUTH_ANY : CURLAUTH_BASIC);
    // Option 4: 0x0100 unknown authority, 0x0200 wrong usage, 0x2000 expired, 0x1000 wrong name.
    // apply_transfer_limits has turned both checks on.
    if (job.options.ssl_ignore & (0x0100 | 0x0200 | 0x2000))
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    if (job.options.ssl_ignore & 0x1000) curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    const char* certificate =
        job.client_certificate.empty() ? nullptr : job.client_certificate.c_str();
    curl_easy_setopt(h, CURLOPT_SSLCERT, certificate);
    curl_easy_setopt(h, CURLOPT_SSLKEY, certificate);

    // The run's Stop and this object's Abort both end the transfer at once.
    std::stop_source cancel;
    std::stop_callback on_stop(run_stop, [&cancel] { cancel.request_stop(); });
    std::stop_callback on_abort(abort_stop, [&cancel] { cancel.request_stop(); });
    const CURLcode result = perform_transfer(h, limits, cancel.get_token(), channel.multi.get());

    char* effective = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        response.effective_url = effective;

    Text error;
    if (result == CURLE_OK) return {std::move(response), {}};
    if (result == CURLE_ABORTED_BY_CALLBACK)
        error = run_stop.stop_requested() ? "the transfer was stopped" : "the request was aborted";
    else if (response.truncated)
        error = "the response body is larger than 64 MiB; nothing was kept";
    else if (result == CURLE_OPERATION_TIMEDOUT && !detail[0])
        error = "the operation timed out (nothing moved for " + std::to_string(idle_ms) + " ms)";
    else
        error = detail[0] ? Text(detail) : Text(curl_easy_strerror(result));
    return {std::move(response), "Send: " + error};
}
