#pragma once
// HttpRequestObject: the request object the review harvest fetches its pages through. Over the
// request component it adds automatic default headers: after every Open it notes that none of
// Accept, Accept-Language, Referer, User-Agent and (for POST) Content-Type has been set, and Send
// sets each one the caller left out, with the request's own URL as the Referer.
//
// Belongs to the thread that made it. Nothing throws: a failing call gives the empty value of its
// type and keeps its error text for LastError. Copies share the request component (and so its
// cookies and its response); the header defaults and flags are copied.
#include <memory>
#include <optional>

#include "runtime/text.h"
#include "web/http_types.h"

class HttpRequestEngine;  // web/http_request_engine.h, private to web/

class HttpRequestObject {
public:
    HttpRequestObject();  // Create, then SetDefaults
    HttpRequestObject copy() const { return *this; }

    void SetDefaults();
    void SetAutoHeaders(std::optional<int> value = std::nullopt);
    bool Create();
    void Release();
    void Recreate();
    bool IsEmpty() const;
    std::shared_ptr<HttpRequestEngine> GetObject() const { return object_; }
    void SetObject(std::shared_ptr<HttpRequestEngine> other);
    Text LastError() const { return last_error_; }

    int Status();
    Text StatusText();
    Text ResponseText();  // decoded by the response's charset (UTF-8 when none)
    Bytes ResponseBody();
    Text ResponseBodyText();  // the body's bytes up to the first NUL, as GBK
    Text ResponseBodyUtf8();
    HttpVariant ResponseStream();  // the body's bytes

    void EnableRedirects(bool on = true);
    // Milliseconds. Resolve + connect bound the connection set-up; the longer of send and receive
    // is how long the transfer may go without a byte moving. 0 or -1: no limit.
    void SetTimeouts(int resolve = 10000, int connect = 20000, int send = 30000,
                     int receive = 60000);
    // 0: the system's proxy (http_proxy, https_proxy, no_proxy), 1: none, 2: server, with the
    // bypass list ("host;*.domain").
    void SetProxy(int setting = kProxyNamed, std::optional<Text> server = std::nullopt,
                  std::optional<Text> bypass = std::nullopt);
    // Writes the first value given (int, text, bytes, variant), then reads the option back.
    HttpVariant Option(int number, std::optional<int> int_value = std::nullopt,
                       std::optional<Text> text_value = std::nullopt,
                       std::optional<Bytes> bytes_value = std::nullopt,
                       std::optional<HttpVariant> variant_value = std::nullopt);
    void SetCredentials(const Text& user, const Text& password, int flags = 0);
    void SetClientCertificate(const Text& name);  // a PEM file with certificate and key
    void SetAutoLogonPolicy(int policy);          // kept; no logon is ever sent by itself

    // url gets "http://" in front when it does not begin with "http" (any case); the caller's
    // text is changed to match.
    void Open(Text& url, bool async = false);
    void Open(const Text& method, Text& url, bool async = false);
    void Send();
    void Send(const Text& body);
    void SendBytes();
    void SendBytes(const Bytes& body);
    bool WaitForResponse(double timeout_seconds = -1);  // < 0: wait as long as it takes
    void Abort();

    void SetRequestHeader(const Text& name, const Text& value);
    void SetRequestHeaderZero(const Text& name);  // sends the value "0"
    Text GetResponseHeader(const Text& name);
    Text GetAllResponseHeaders();  // "Name: value" CR LF per line, final response only
    void NoOperation() {}
    Text GetCookie(const Text& name);
    Text GetAllCookies();
    Text Location();
    Text ReachedUrl() const;  // where the last Send ended after following redirects

    void SetAccept(std::optional<Text> value = std::nullopt);
    void SetUserAgent(std::optional<Text> value = std::nullopt);
    void SetReferer(std::optional<Text> value = std::nullopt);
    void SetContentType(std::optional<Text> value = std::nullopt);
    void SetCookie(const Text& value);
    void SetClientIp(const Text& ip);
    void SetAjax();

private:
    // Runs f(engine) with failures turned into LastError and empty values.
    template <class T, class F>
    T call(const char* what, F f);
    void platform_header(const Text& name, const Text& value);
    void add_default_headers();
    int* flag_for(std::string_view name);  // the *_set flag of a default header, else nullptr
    void set_named_header(const char* name, int& flag, Text& stored, std::optional<Text> value);
    void note(Text error) {
        if (!error.empty()) last_error_ = std::move(error);
    }

    std::shared_ptr<HttpRequestEngine> object_;
    int auto_headers_ = 1;
    int referer_set_ = 0;
    Text referer_;
    int accept_set_ = 0;
    Text accept_;
    int accept_language_set_ = 0;
    Text accept_language_;
    int user_agent_set_ = 0;
    Text user_agent_;
    int is_post_ = 0;
    int content_type_set_ = 0;
    Text content_type_;
    Text last_error_;
};
