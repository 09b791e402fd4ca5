#pragma once
// The request component behind HttpRequestObject, on libcurl. It behaves like the platform's
// WinHttpRequest: Open / SetRequestHeader / Send, a synchronous or a background transfer, the final
// response's status, headers and body, options by number, and its own cookie jar, kept apart from
// the process-wide store. Every call reports failure as an error text, never by throwing.
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/text.h"
#include "web/curl_global.h"
#include "web/http_types.h"

class HttpRequestEngine {
public:
    // Body kept per response; a longer body fails the transfer and nothing of it is kept.
    static constexpr size_t kBodyCap = size_t{64} << 20;

    // nullptr when libcurl cannot be used; the reason goes to error.
    static std::shared_ptr<HttpRequestEngine> create(Text& error);
    ~HttpRequestEngine();
    HttpRequestEngine(const HttpRequestEngine&) = delete;
    HttpRequestEngine& operator=(const HttpRequestEngine&) = delete;

    // Starts a new request; drops the previous request's headers and response (aborting it if it
    // is still running). The URL must be http or https.
    Text open(std::string_view method, std::string_view url, bool async);
    // Adds or replaces a request header (names compare without case); an empty value removes it.
    Text set_request_header(std::string_view name, std::string_view value);
    // Sends the opened request. Synchronous unless opened with async; a background transfer runs
    // on its own thread and reports through wait_for_response. The stop token of the calling
    // thread's run aborts the transfer.
    Text send(std::optional<std::string> body);
    // true once the response is complete; false when the time-out (seconds, < 0 = none) passed.
    HttpResult<bool> wait_for_response(double timeout_seconds);
    // Cancels a running transfer; the request must be opened again.
    void abort();

    HttpResult<long long> status() const;
    HttpResult<Text> status_text() const;
    HttpResult<Bytes> body() const;
    // Raw header lines of the final response, each "Name: value" + CR LF, no status line.
    HttpResult<Text> all_headers() const;
    // Value of the first header of that name (any case), trimmed; an error when absent.
    HttpResult<Text> header(std::string_view name) const;
    // The address the last transfer ended at after following redirects, also when it failed on
    // the way (a redirect to a page that could not be reached); empty before any transfer.
    Text reached_url() const;

    Text set_timeouts(const HttpTimeouts& timeouts);
    Text set_proxy(int setting, std::optional<std::string_view> server,
                   std::optional<std::string_view> bypass);
    // flags 0: the server's credentials, 1: the proxy's. Needs an opened request.
    Text set_credentials(std::string_view user, std::string_view password, int flags);
    // A PEM file holding the client certificate and its key; empty clears it.
    Text set_client_certificate(std::string_view name);
    Text set_auto_logon_policy(int policy);
    HttpResult<HttpVariant> option(int number) const;
    Text set_option(int number, const HttpVariant& value);

private:
    struct Header {
        std::string name, value;
    };
    struct Response {
        long long status = 0;
        Text status_text;
        std::string header_block;  // the header lines, each with CR LF, in one buffer
        Bytes body;
        Text effective_url;
        bool truncated = false;
    };
    struct Options {
        Text user_agent = "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)";
        long long url_code_page = 65001;
        bool escape_percent = false;
        long long ssl_ignore = 0;
        bool redirects = true;
        bool https_to_http = false;
        long long max_redirects = 10;
        bool http11 = true;
        std::vector<std::pair<int, HttpVariant>> others;  // kept and read back, no effect here
    };
    // Everything one transfer needs, copied so the transfer reads no shared state.
    struct Job {
        std::string method, url;
        std::optional<std::string> body;
        std::vector<Header> headers;
        std::optional<std::pair<std::string, std::string>> server_login, proxy_login;
        Options options;
        HttpTimeouts timeouts;
        int proxy_setting = kProxySystem;
        std::string proxy_server, proxy_bypass, client_certificate;
    };
    enum class Phase { Idle, Opened, Sending, Done };

    // A curl handle with its own multi handle, header list and error text. The object keeps one
    // for all its transfers, so its connection stays open between requests (keep-alive) and the
    // options that never change are set once; a second transfer running at the same time (a
    // copy of the object on another thread) takes a fresh one.
    struct Channel {
        CurlEasy easy;
        CurlMulti multi;
        std::vector<std::string> header_lines;  // reused: no allocation per header
        std::vector<curl_slist> header_list;    // links into header_lines, handed to curl
        char detail[CURL_ERROR_SIZE] = {};
    };

    HttpRequestEngine() = default;
    bool prepare_channel(Channel& channel);
    static void lock_share(CURL*, curl_lock_data data, curl_lock_access, void* self);
    static void unlock_share(CURL*, curl_lock_data data, void* self);
    // Runs one transfer to its end on the calling thread; returns the response and its error.
    std::pair<Response, Text> transfer(const Job& job, std::stop_token run_stop,
                                       std::stop_token abort_stop);
    void finish(Response response, Text error);
    void abort_and_join();
    // Runs f on the finished response under the lock, or reports why there is none.
    template <class T, class F>
    HttpResult<T> with_response(const char* what, F f) const;

    struct ShareDeleter {
        void operator()(CURLSH* share) const { curl_share_cleanup(share); }
    };
    // The object's own cookie jar and open connections, shared by its channels.
    std::array<std::mutex, CURL_LOCK_DATA_LAST> share_locks_;  // outlive the share
    std::unique_ptr<CURLSH, ShareDeleter> share_;
    std::mutex channel_mutex_;  // held by the transfer running on channel_
    Channel channel_;           // after share_, so cleaned up before it

    mutable std::mutex mutex_;
    std::condition_variable done_;
    Phase phase_ = Phase::Idle;
    Job request_;
    bool async_ = false;
    Response response_;
    bool response_ready_ = false;
    Text send_error_;
    Options options_;
    HttpTimeouts timeouts_;
    int proxy_setting_ = kProxySystem;
    std::string proxy_server_, proxy_bypass_, client_certificate_;
    int auto_logon_policy_ = 2;
    std::stop_source abort_source_;  // of the transfer in flight
    std::thread worker_;
};
