#include "web/http_request_engine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>

#include "runtime/gbk.h"
#include "runtime/stop.h"
#include "web/http_ascii.h"

namespace {

// A header name is an HTTP token; a value holds no line break (no header can be smuggled in).
bool valid_header_name(std::string_view name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (c <= 0x20 || c >= 0x7f) return false;
        if (std::string_view("()<>@,;:\\\"/[]?={}").find(char(c)) != std::string_view::npos)
            return false;
    }
    return true;
}

bool valid_header_value(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// Spaces, controls and non-ASCII bytes are percent-escaped the way the platform does: non-ASCII
// text goes out in the URL code page (UTF-8 unless option 2 says otherwise).
std::string escape_url(std::string_view url, long long code_page, bool escape_percent) {
    const std::string source = code_page == 65001 ? gbk_to_utf8(url) : std::string(url);
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(source.size());
    for (unsigned char c : source) {
        if (c <= 0x20 || c >= 0x7f || (escape_percent && c == '%')) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

// The scheme in lower case, or empty when the URL cannot be parsed or has no host.
std::string url_scheme(const std::string& url) {
    CURLU* u = curl_url();
    if (!u) return {};
    std::string scheme;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* s = nullptr;
        char* host = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &s, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host)
            scheme = s;
        curl_free(s);
        curl_free(host);
    }
    curl_url_cleanup(u);
    for (char& c : scheme)
        c = http_ascii_lower(c);
    return scheme;
}

// The platform's bypass list ("a.com;*.b.com;<local>") as curl's ("a.com,.b.com").
std::string curl_bypass_list(std::string_view bypass) {
    std::string out;
    size_t i = 0;
    while (i < bypass.size()) {
        size_t end = bypass.find_first_of(";, \t", i);
        if (end == std::string_view::npos) end = bypass.size();
        std::string_view item = bypass.substr(i, end - i);
        i = end + 1;
        if (item.empty() || item == "<local>") continue;
        if (item.size() > 1 && item.substr(0, 2) == "*.") item.remove_prefix(1);
        if (!out.empty()) out += ',';
        out += item;
    }
    return out;
}

std::string upper_known_method(std::string_view method) {
    static const char* const known[] = {"GET",    "POST",  "HEAD",    "PUT",
                                        "DELETE", "TRACE", "OPTIONS", "PATCH"};
    for (const char* k : known)
        if (http_equals_no_case(method, k)) return k;
    return std::string(method);
}

std::optional<bool> as_bool(const HttpVariant& v) {
    if (auto* b = std::get_if<bool>(&v)) return *b;
    if (auto* n = std::get_if<long long>(&v)) return *n != 0;
    if (auto* t = std::get_if<Text>(&v)) {
        std::string s;
        for (char c : *t)
            s += http_ascii_lower(c);
        if (s == "true" || s == "1" || s == "-1") return true;
        if (s == "false" || s == "0") return false;
    }
    return std::nullopt;
}

std::optional<long long> as_int(const HttpVariant& v) {
    if (auto* n = std::get_if<long long>(&v)) return *n;
    if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto* t = std::get_if<Text>(&v)) {
        std::string_view s = http_trim(*t);
        if (s.empty() || s.size() > 18) return std::nullopt;
        long long value = 0;
        bool negative = s.front() == '-';
        if (negative) s.remove_prefix(1);
        if (s.empty()) return std::nullopt;
        for (char c : s) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        return negative ? -value : value;
    }
    return std::nullopt;
}

std::optional<Text> as_text(const HttpVariant& v) {
    if (auto* t = std::get_if<Text>(&v)) return *t;
    if (auto* n = std::get_if<long long>(&v)) return std::to_string(*n);
    return std::nullopt;
}

Text failure_text(const char* what, const std::exception& e) {
    return Text(what) + ": " +
           (dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what());
}

}  // namespace

std::shared_ptr<HttpRequestEngine> HttpRequestEngine::create(Text& error) {
    try {
        std::shared_ptr<HttpRequestEngine> engine(new HttpRequestEngine);
        CURLSH* share = curl_ready() ? curl_share_init() : nullptr;
        if (!share) {
            error = "Create: the HTTP library could not be initialised";
            return nullptr;
        }
        engine->share_.reset(share);
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock_share);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock_share);
        curl_share_setopt(share, CURLSHOPT_USERDATA, engine.get());
        for (auto data : {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_CONNECT})
            curl_share_setopt(share, CURLSHOPT_SHARE, data);
        return engine;
    } catch (const std::exception& e) {
        error = failure_text("Create", e);
        return nullptr;
    }
}

void HttpRequestEngine::lock_share(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<HttpRequestEngine*>(self)->share_locks_.at(data).lock();
}

void HttpRequestEngine::unlock_share(CURL*, curl_lock_data data, void* self) {
    static_cast<HttpRequestEngine*>(self)->share_locks_.at(data).unlock();
}

HttpRequestEngine::~HttpRequestEngine() {
    abort_and_join();
}

void HttpRequestEngine::abort_and_join() {
    std::stop_source source;
    {
        std::lock_guard lock(mutex_);
        source = abort_source_;
    }
    source.request_stop();
    if (worker_.joinable()) worker_.join();
}

Text HttpRequestEngine::open(std::string_view method, std::string_view url, bool async) {
    try {
        abort_and_join();
        std::lock_guard lock(mutex_);
        phase_ = Phase::Idle;
        response_ = Response{};
        response_ready_ = false;
        send_error_.clear();
        request_ = Job{};
        if (!valid_header_name(method)) return "Open: invalid method \"" + Text(method) + "\"";
        std::string escaped = escape_url(url, options_.url_code_page, options_.escape_percent);
        const std::string scheme = url_scheme(escaped);
        if (scheme != "http" && scheme != "https")
            return "Open: the URL is invalid or does not use http or https: " + Text(url);
        request_.method = upper_known_method(method);
        request_.url = std::move(escaped);
        async_ = async;
        phase_ = Phase::Opened;
        return {};
    } catch (const std::exception& e) {
        return failure_text("Open", e);
    }
}

Text HttpRequestEngine::set_request_header(std::string_view name, std::string_view value) {
    try {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::Idle) return "SetRequestHeader: Open has not been called";
        if (phase_ != Phase::Opened) return "SetRequestHeader: the request has already been sent";
        if (!valid_header_name(name))
            return "SetRequestHeader: invalid header name \"" + Text(name) + "\"";
        if (!valid_header_value(value))
            return "SetRequestHeader: the value of " + Text(name) + " holds a line break";
        auto& headers = request_.headers;
        auto it = std::find_if(headers.begin(), headers.end(),
                               [&](const Header& h) { return http_equals_no_case(h.name, name); });
        if (value.empty()) {
            if (it != headers.end()) headers.erase(it);
        } else if (it != headers.end()) {
            it->value = value;
        } else {
            headers.push_back({std::string(name), std::string(value)});
        }
        return {};
    } catch (const std::exception& e) {
        return failure_text("SetRequestHeader", e);
    }
}

Text HttpRequestEngine::send(std::optional<std::string> body) {
    try {
        std::unique_lock lock(mutex_);
        if (phase_ == Phase::Idle) return "Send: Open has not been called";
        if (phase_ != Phase::Opened)
            return "Send: the request has already been sent; Open it again";
        Job job = request_;
        job.body = std::move(body);
        job.options = options_;
        job.timeouts = timeouts_;
        job.proxy_setting = proxy_setting_;
        job.proxy_server = proxy_server_;
        job.proxy_bypass = proxy_bypass_;
        job.client_certificate = client_certificate_;
        const bool async = async_;
        if (worker_.joinable()) {
            // A finished background transfer of an earlier request; it no longer needs the lock.
            lock.unlock();
            worker_.join();
            lock.lock();
        }
        abort_source_ = std::stop_source();
        std::stop_token stop = current_stop_token();
        std::stop_token abort = abort_source_.get_token();
        phase_ = Phase::Sending;
        if (async) {
            try {
                worker_ = std::thread([this, job = std::move(job), stop, abort]() mutable {
                    auto [response, error] = transfer(job, stop, abort);
                    finish(std::move(response), std::move(error));
                });
            } catch (const std::exception& e) {
                phase_ = Phase::Opened;
                return failure_text("Send", e);
            }
            return {};
        }
        lock.unlock();
        auto [response, error] = transfer(job, stop, abort);
        Text result = error;
        finish(std::move(response), std::move(error));
        return result;
    } catch (const std::exception& e) {
        return failure_text("Send", e);
    }
}

void HttpRequestEngine::finish(Response response, Text error) {
    {
        std::lock_guard lock(mutex_);
        // A transfer that failed part-way gives no response: a cut-off page must not pass for a
        // whole one (a review page still holding its page marker would lose its later buyers).
        response_ready_ = response.status > 0 && error.empty();
        response_ = std::move(response);
        send_error_ = std::move(error);
        phase_ = Phase::Done;
    }
    done_.notify_all();
}

HttpResult<bool> HttpRequestEngine::wait_for_response(double timeout_seconds) {
    std::unique_lock lock(mutex_);
    if (phase_ == Phase::Idle || phase_ == Phase::Opened)
        return {false, "WaitForResponse: Send has not been called"};
    auto finished = [&] { return phase_ != Phase::Sending; };
    if (timeout_seconds < 0) {
        done_.wait(lock, finished);
    } else {
        const auto limit = std::chrono::duration<double>(timeout_seconds);
        if (!done_.wait_for(lock,
                            std::chrono::duration_cast<std::chrono::steady_clock::duration>(limit),
                            finished))
            return {false, {}};
    }
    if (!send_error_.empty()) return {false, send_error_};
    return {true, {}};
}

void HttpRequestEngine::abort() {
    abort_and_join();
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Sending) return;  // a synchronous Send on another thread ends by itself
    phase_ = Phase::Idle;
    response_ = Response{};
    response_ready_ = false;
}

Text HttpRequestEngine::reached_url() const {
    std::lock_guard lock(mutex_);
    return phase_ == Phase::Done ? response_.effective_url : Text();
}

template <class T, class F>
HttpResult<T> HttpRequestEngine::with_response(const char* what, F f) const {
    try {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::Sending)
            return {T{}, Text(what) + ": the response is not yet available"};
        if (!response_ready_) return {T{}, Text(what) + ": no response has been received"};
        return {f(response_), {}};
    } catch (const std::exception& e) {
        return {T{}, failure_text(what, e)};
    }
}

HttpResult<long long> HttpRequestEngine::status() const {
    return with_response<long long>("Status", [](const Response& r) { return r.status; });
}

HttpResult<Text> HttpRequestEngine::status_text() const {
    return with_response<Text>("StatusText", [](const Response& r) { return r.status_text; });
}

HttpResult<Bytes> HttpRequestEngine::body() const {
    return with_response<Bytes>("ResponseBody", [](const Response& r) { return r.body; });
}

HttpResult<Text> HttpRequestEngine::all_headers() const {
    return with_response<Text>("GetAllResponseHeaders",
                               [](const Response& r) { return Text(r.header_block); });
}

HttpResult<Text> HttpRequestEngine::header(std::string_view name) const {
    std::optional<Text> found;
    auto result = with_response<Text>("GetResponseHeader", [&](const Response& r) {
        std::string_view rest = r.header_block;
        while (!rest.empty()) {
            const size_t end = rest.find("\r\n");
            const std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos) continue;
            if (http_equals_no_case(http_trim(line.substr(0, colon)), name)) {
                found = Text(http_trim(line.substr(colon + 1)));
                return *found;
            }
        }
        return Text();
    });
    if (result.ok() && !found)
        result.error = "GetResponseHeader: the response has no header \"" + Text(name) + "\"";
    return result;
}

Text HttpRequestEngine::set_timeouts(const HttpTimeouts& timeouts) {
    for (int t : {timeouts.resolve, timeouts.connect, timeouts.send, timeouts.receive})
        if (t < -1) return "SetTimeouts: a time-out must be -1 or more";
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return {};
}

Text HttpRequestEngine::set_proxy(int setting, std::optional<std::string_view> server,
                                  std::optional<std::string_view> bypass) {
    try {
        if (setting < kProxySystem || setting > kProxyNamed)
            return "SetProxy: unknown proxy setting " + std::to_string(setting);
        if (setting == kProxyNamed && (!server || server->empty()))
            return "SetProxy: no proxy server given";
        std::lock_guard lock(mutex_);
        proxy_setting_ = setting;
        proxy_server_ = setting == kProxyNamed ? std::string(*server) : std::string();
        proxy_bypass_ =
            setting == kProxyNamed && bypass ? curl_bypass_list(*bypass) : std::string();
        return {};
    } catch (const std::exception& e) {
        return failure_text("SetProxy", e);
    }
}

Text HttpRequestEngine::set_credentials(std::string_view user, std::string_view password,
                                        int flags) {
    try {
        if (flags != 0 && flags != 1)
            return "SetCredentials: unknown flags " + std::to_string(flags);
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::Idle) return "SetCredentials: Open has not been called";
        if (phase_ != Phase::Opened) return "SetCredentials: the request has already been sent";
        auto login = std::make_pair(std::string(user), std::string(password));
        (flags == 0 ? request_.server_login : request_.proxy_login) = std::move(login);
        return {};
    } catch (const std::exception& e) {
        return failure_text("SetCredentials", e);
    }
}

Text HttpRequestEngine::set_client_certificate(std::string_view name) {
    try {
        std::lock_guard lock(mutex_);
        client_certificate_ = name;
        return {};
    } catch (const std::exception& e) {
        return failure_text("SetClientCertificate", e);
    }
}

Text HttpRequestEngine::set_auto_logon_policy(int policy) {
    if (policy < 0 || policy > 2)
        return "SetAutoLogonPolicy: unknown policy " + std::to_string(policy);
    std::lock_guard lock(mutex_);
    auto_logon_policy_ = policy;
    return {};
}

HttpResult<HttpVariant> HttpRequestEngine::option(int number) const {
    try {
        std::lock_guard lock(mutex_);
        const Options& o = options_;
        switch (number) {
            case kOptionUserAgent:
                return {o.user_agent, {}};
            case kOptionUrl:
                return {response_ready_ && !response_.effective_url.empty()
                            ? response_.effective_url
                            : Text(request_.url),
                        {}};
            case kOptionUrlCodePage:
                return {o.url_code_page, {}};
            case kOptionEscapePercentInUrl:
                return {o.escape_percent, {}};
            case kOptionSslErrorIgnoreFlags:
                return {o.ssl_ignore, {}};
            case kOptionEnableRedirects:
                return {o.redirects, {}};
            case kOptionEnableHttpsToHttpRedirects:
                return {o.https_to_http, {}};
            case kOptionMaxAutomaticRedirects:
                return {o.max_redirects, {}};
            case kOptionEnableHttp11:
                return {o.http11, {}};
            default:
                break;
        }
        if (number < 0 || number > kOptionLast)
            return {{}, "Option: unknown option " + std::to_string(number)};
        for (const auto& [n, v] : o.others)
            if (n == number) return {v, {}};
        return {{}, {}};
    } catch (const std::exception& e) {
        return {{}, failure_text("Option", e)};
    }
}

Text HttpRequestEngine::set_option(int number, const HttpVariant& value) {
    try {
        if (number < 0 || number > kOptionLast)
            return "Option: unknown option " + std::to_string(number);
        if (number == kOptionUrl) return "Option: option 1 (the URL) cannot be written";
        const Text bad = "Option: a value of the wrong kind for option " + std::to_string(number);
        std::lock_guard lock(mutex_);
        Options& o = options_;
        auto set_bool = [&](bool& field) {
            auto b = as_bool(value);
            if (!b) return bad;
            field = *b;
            return Text();
        };
        auto set_int = [&](long long& field, long long low) {
            auto n = as_int(value);
            if (!n || *n < low) return bad;
            field = *n;
            return Text();
        };
        switch (number) {
            case kOptionUserAgent: {
                auto t = as_text(value);
                if (!t || !valid_header_value(*t)) return bad;
                o.user_agent = *t;
                return {};
            }
            case kOptionUrlCodePage:
                return set_int(o.url_code_page, 0);
            case kOptionEscapePercentInUrl:
                return set_bool(o.escape_percent);
            case kOptionSslErrorIgnoreFlags:
                return set_int(o.ssl_ignore, 0);
            case kOptionEnableRedirects:
                return set_bool(o.redirects);
            case kOptionEnableHttpsToHttpRedirects:
                return set_bool(o.https_to_http);
            case kOptionMaxAutomaticRedirects:
                return set_int(o.max_redirects, 0);
            case kOptionEnableHttp11:
                return set_bool(o.http11);
            default:
                break;
        }
        if (std::holds_alternative<std::monostate>(value)) return bad;
        for (auto& [n, v] : o.others)
            if (n == number) {
                v = value;
                return {};
            }
        o.others.emplace_back(number, value);
        return {};
    } catch (const std::exception& e) {
        return failure_text("Option", e);
    }
}
