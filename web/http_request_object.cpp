#include "web/http_request_object.h"

#include <exception>
#include <new>
#include <utility>

#include "runtime/convert.h"
#include "web/http_request_engine.h"
#include "web/http_response_text.h"

namespace {

const char* const kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

}  // namespace

template <class T, class F>
T HttpRequestObject::call(const char* what, F f) {
    try {
        std::shared_ptr<HttpRequestEngine> engine = object_;  // stays alive for the whole call
        if (!engine) {
            last_error_ = Text(what) + ": there is no request object";
            return T();
        }
        return f(*engine);
    } catch (const std::exception& e) {
        try {
            last_error_ = Text(what) + ": " +
                          (dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory" : e.what());
        } catch (...) {
        }
    } catch (...) {
    }
    return T();
}

HttpRequestObject::HttpRequestObject() {
    Create();
    SetDefaults();
}

void HttpRequestObject::SetDefaults() {
    try {
        auto_headers_ = 1;
        accept_ = "*/*";
        accept_language_ = "zh-cn";
        user_agent_ = kDefaultUserAgent;
        content_type_ = "application/x-www-form-urlencoded";
    } catch (const std::exception&) {
        last_error_ = "SetDefaults: out of memory";
    }
}

void HttpRequestObject::SetAutoHeaders(std::optional<int> value) {
    auto_headers_ = value.value_or(1);
}

bool HttpRequestObject::Create() {
    if (object_) return true;
    try {
        Text error;
        object_ = HttpRequestEngine::create(error);
        note(std::move(error));
    } catch (const std::exception&) {
        last_error_ = "Create: out of memory";
    }
    return object_ != nullptr;
}

void HttpRequestObject::Release() {
    object_.reset();
}

void HttpRequestObject::Recreate() {
    Release();
    Create();
}

bool HttpRequestObject::IsEmpty() const {
    return object_ == nullptr;
}

void HttpRequestObject::SetObject(std::shared_ptr<HttpRequestEngine> other) {
    Release();
    object_ = std::move(other);
}

int HttpRequestObject::Status() {
    return call<int>("Status", [&](HttpRequestEngine& e) {
        auto r = e.status();
        note(r.error);
        return int(r.value);
    });
}

Text HttpRequestObject::StatusText() {
    return call<Text>("StatusText", [&](HttpRequestEngine& e) {
        auto r = e.status_text();
        note(r.error);
        return r.value;
    });
}

Text HttpRequestObject::ResponseText() {
    return call<Text>("ResponseText", [&](HttpRequestEngine& e) {
        auto body = e.body();
        if (!body.ok()) {
            note("ResponseText" + body.error.substr(body.error.find(':')));
            return Text();
        }
        auto type = e.header("Content-Type");  // absent: no charset declared
        return decode_response_text(body.value, type.value);
    });
}

Bytes HttpRequestObject::ResponseBody() {
    return call<Bytes>("ResponseBody", [&](HttpRequestEngine& e) {
        auto r = e.body();
        note(r.error);
        return std::move(r.value);
    });
}

Text HttpRequestObject::ResponseBodyText() {
    return call<Text>("ResponseBodyText", [&](HttpRequestEngine& e) {
        auto r = e.body();
        note(r.error);
        return to_text(r.value);
    });
}

Text HttpRequestObject::ResponseBodyUtf8() {
    return call<Text>("ResponseBodyUtf8", [&](HttpRequestEngine& e) {
        auto r = e.body();
        note(r.error);
        return utf8_body_to_gbk(r.value);
    });
}

HttpVariant HttpRequestObject::ResponseStream() {
    return call<HttpVariant>("ResponseStream", [&](HttpRequestEngine& e) -> HttpVariant {
        auto r = e.body();
        note(r.error);
        if (!r.ok()) return {};
        return std::move(r.value);
    });
}

void HttpRequestObject::EnableRedirects(bool on) {
    call<void>("EnableRedirects",
               [&](HttpRequestEngine& e) { note(e.set_option(kOptionEnableRedirects, on)); });
}

void HttpRequestObject::SetTimeouts(int resolve, int connect, int send, int receive) {
    call<void>("SetTimeouts", [&](HttpRequestEngine& e) {
        note(e.set_timeouts({resolve, connect, send, receive}));
    });
}

void HttpRequestObject::SetProxy(int setting, std::optional<Text> server,
                                 std::optional<Text> bypass) {
    call<void>("SetProxy", [&](HttpRequestEngine& e) {
        std::optional<std::string_view> s, b;
        if (server) s = *server;
        if (bypass) b = *bypass;
        note(e.set_proxy(setting, s, b));
    });
}

HttpVariant HttpRequestObject::Option(int number, std::optional<int> int_value,
                                      std::optional<Text> text_value,
                                      std::optional<Bytes> bytes_value,
                                      std::optional<HttpVariant> variant_value) {
    return call<HttpVariant>("Option", [&](HttpRequestEngine& e) {
        if (int_value)
            note(e.set_option(number, static_cast<long long>(*int_value)));
        else if (text_value)
            note(e.set_option(number, *text_value));
        else if (bytes_value)
            note(e.set_option(number, *bytes_value));
        else if (variant_value)
            note(e.set_option(number, *variant_value));
        auto r = e.option(number);
        note(r.error);
        return r.value;
    });
}

void HttpRequestObject::SetCredentials(const Text& user, const Text& password, int flags) {
    call<void>("SetCredentials",
               [&](HttpRequestEngine& e) { note(e.set_credentials(user, password, flags)); });
}

void HttpRequestObject::SetClientCertificate(const Text& name) {
    call<void>("SetClientCertificate",
               [&](HttpRequestEngine& e) { note(e.set_client_certificate(name)); });
}

void HttpRequestObject::SetAutoLogonPolicy(int policy) {
    call<void>("SetAutoLogonPolicy",
               [&](HttpRequestEngine& e) { note(e.set_auto_logon_policy(policy)); });
}

void HttpRequestObject::Open(Text& url, bool async) {
    Open("GET", url, async);
}

void HttpRequestObject::Open(const Text& method, Text& url, bool async) {
    try {
        if (!text_begins_with(text_lower(url), "http")) url = "http://" + url;
        if (auto_headers_ == 1) {
            referer_set_ = accept_set_ = accept_language_set_ = user_agent_set_ = 0;
            content_type_set_ = 0;
            is_post_ = text_upper(method) == "POST" ? 1 : 0;
            referer_ = url;
        }
    } catch (const std::exception&) {
        last_error_ = "Open: out of memory";
        return;
    }
    call<void>("Open", [&](HttpRequestEngine& e) { note(e.open(method, url, async)); });
}

void HttpRequestObject::platform_header(const Text& name, const Text& value) {
    call<void>("SetRequestHeader",
               [&](HttpRequestEngine& e) { note(e.set_request_header(name, value)); });
}

// Each default header the caller did not set since Open, in this order.
void HttpRequestObject::add_default_headers() {
    if (auto_headers_ != 1) return;
    auto fill = [&](int& flag, const char* name, const Text& value) {
        if (flag) return;
        flag = 1;
        platform_header(name, value);
    };
    fill(accept_set_, "Accept", accept_);
    fill(accept_language_set_, "Accept-Language", accept_language_);
    fill(referer_set_, "Referer", referer_);
    fill(user_agent_set_, "User-Agent", user_agent_);
    if (is_post_) fill(content_type_set_, "Content-Type", content_type_);
}

void HttpRequestObject::Send() {
    add_default_headers();
    call<void>("Send", [&](HttpRequestEngine& e) { note(e.send(std::nullopt)); });
}

void HttpRequestObject::Send(const Text& body) {
    add_default_headers();
    call<void>("Send", [&](HttpRequestEngine& e) { note(e.send(body)); });
}

void HttpRequestObject::SendBytes() {
    Send();
}

void HttpRequestObject::SendBytes(const Bytes& body) {
    add_default_headers();
    call<void>("SendBytes",
               [&](HttpRequestEngine& e) { note(e.send(std::string(body.begin(), body.end()))); });
}

bool HttpRequestObject::WaitForResponse(double timeout_seconds) {
    return call<bool>("WaitForResponse", [&](HttpRequestEngine& e) {
        auto r = e.wait_for_response(timeout_seconds);
        note(r.error);
        return r.value;
    });
}

void HttpRequestObject::Abort() {
    call<void>("Abort", [&](HttpRequestEngine& e) { e.abort(); });
}

int* HttpRequestObject::flag_for(std::string_view name) {
    const Text lower = text_lower(name);
    if (lower == "accept") return &accept_set_;
    if (lower == "accept-language") return &accept_language_set_;
    if (lower == "referer") return &referer_set_;
    if (lower == "user-agent") return &user_agent_set_;
    if (lower == "content-type") return &content_type_set_;
    return nullptr;
}

void HttpRequestObject::SetRequestHeader(const Text& name, const Text& value) {
    if (name.empty()) return;
    try {
        if (auto_headers_ == 1 && !value.empty())
            if (int* flag = flag_for(name)) *flag = 1;
    } catch (const std::exception&) {
        last_error_ = "SetRequestHeader: out of memory";
        return;
    }
    platform_header(name, value);
}

// The platform would be handed the number 0 here; it sends it as the text "0".
void HttpRequestObject::SetRequestHeaderZero(const Text& name) {
    if (name.empty()) return;
    try {
        if (auto_headers_ == 1)
            if (int* flag = flag_for(name)) *flag = 1;
    } catch (const std::exception&) {
        last_error_ = "SetRequestHeaderZero: out of memory";
        return;
    }
    platform_header(name, "0");
}

Text HttpRequestObject::GetResponseHeader(const Text& name) {
    return call<Text>("GetResponseHeader", [&](HttpRequestEngine& e) {
        auto r = e.header(name);
        note(r.error);
        return r.value;
    });
}

Text HttpRequestObject::GetAllResponseHeaders() {
    return call<Text>("GetAllResponseHeaders", [&](HttpRequestEngine& e) {
        auto r = e.all_headers();
        note(r.error);
        return r.value;
    });
}

Text HttpRequestObject::GetCookie(const Text& name) {
    const Text headers = GetAllResponseHeaders();
    try {
        return cookie_from_headers(headers, name);
    } catch (const std::exception&) {
        last_error_ = "GetCookie: out of memory";
        return {};
    }
}

Text HttpRequestObject::GetAllCookies() {
    const Text headers = GetAllResponseHeaders();
    try {
        return cookies_from_headers(headers);
    } catch (const std::exception&) {
        last_error_ = "GetAllCookies: out of memory";
        return {};
    }
}

Text HttpRequestObject::Location() {
    return GetResponseHeader("Location");
}

Text HttpRequestObject::ReachedUrl() const {
    return object_ ? object_->reached_url() : Text();
}

void HttpRequestObject::set_named_header(const char* name, int& flag, Text& stored,
                                         std::optional<Text> value) {
    try {
        Text v = value ? std::move(*value) : stored;
        if (auto_headers_ == 1 && !v.empty()) {
            flag = 1;
            stored = v;
        }
        platform_header(name, v);
    } catch (const std::exception&) {
        last_error_ = Text("Set") + name + ": out of memory";
    }
}

void HttpRequestObject::SetAccept(std::optional<Text> value) {
    set_named_header("Accept", accept_set_, accept_, std::move(value));
}

void HttpRequestObject::SetUserAgent(std::optional<Text> value) {
    set_named_header("User-Agent", user_agent_set_, user_agent_, std::move(value));
}

void HttpRequestObject::SetReferer(std::optional<Text> value) {
    set_named_header("Referer", referer_set_, referer_, std::move(value));
}

void HttpRequestObject::SetContentType(std::optional<Text> value) {
    set_named_header("Content-Type", content_type_set_, content_type_, std::move(value));
}

void HttpRequestObject::SetCookie(const Text& value) {
    platform_header("Cookie", value);
}

void HttpRequestObject::SetClientIp(const Text& ip) {
    for (const char* name : {"X-Forwarded-For", "CLIENT_IP", "VIA", "REMOTE_ADDR"})
        platform_header(name, ip);
}

void HttpRequestObject::SetAjax() {
    platform_header("x-requested-with", "XMLHttpRequest");
}
