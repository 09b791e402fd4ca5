#pragma once
// A small HTTP/1.x server on 127.0.0.1 for tests: scripted answers per path, every request recorded
// byte for byte, and misbehaviour on demand (no Content-Length, a false one, a drop mid-body, a
// stall). It also answers absolute-URI requests, so it can stand in as a plain HTTP proxy.
// One thread per connection; a connection is closed after its one response unless keep-alive is on.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct HttpResponse {
    int status = 200;
    std::string reason = "OK";
    std::vector<std::pair<std::string, std::string>> headers;  // sent in order
    std::string body;
    bool content_length = true;                // send Content-Length: body.size()
    std::optional<long long> declared_length;  // send this Content-Length instead
    // Trickle: the head at once, then the body one byte every stall_ms.
    enum class Mode { Normal, CloseMidBody, Stall, Trickle } mode = Mode::Normal;
    size_t close_after =
        0;             // CloseMidBody / Stall: bytes of the body sent before closing / waiting
    int stall_ms = 0;  // Stall: how long to wait before closing; 0 = until the server goes
    // With keep-alive on: close the connection after this response without saying so first.
    bool close_unannounced = false;

    static HttpResponse text(std::string body, int status = 200);
    static HttpResponse redirect(std::string location, int status = 302);
};

struct RecordedRequest {
    std::string raw;  // everything received: request line, headers, body
    std::string method, target, version, body;
    std::vector<std::pair<std::string, std::string>> headers;  // in order received

    // Value of the first header of that name (case-insensitive), empty when absent.
    std::string header(std::string_view name) const;
    // How many headers of that name arrived.
    int count(std::string_view name) const;
    // Target without scheme and authority (for absolute-URI requests) and without the query.
    std::string path() const;
};

class HttpServer {
public:
    HttpServer();
    ~HttpServer();  // unblocks stalls and joins every thread
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const { return port_; }
    std::string base_url() const;  // "http://127.0.0.1:PORT"
    bool ok() const { return listen_fd_ >= 0; }

    // On: a connection serves request after request (HTTP/1.1 keep-alive) until the client closes
    // it or asks "Connection: close". Off (the default): one response per connection.
    void set_keep_alive(bool on) { keep_alive_ = on; }
    size_t connections() const { return connections_accepted_; }  // accepted so far

    void set_route(std::string path, HttpResponse r);  // path without query, exact
    void set_handler(std::function<HttpResponse(const RecordedRequest&)> h);  // overrides routes

    std::vector<RecordedRequest> requests() const;
    void clear_requests();
    // Waits (bounded) until at least n requests have been recorded.
    bool wait_for_requests(size_t n, int timeout_ms = 5000) const;

private:
    void accept_loop();
    void serve(int fd);
    HttpResponse answer(const RecordedRequest& request);
    void send_response(int fd, const HttpResponse& response, bool keep);

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> keep_alive_{false};
    std::atomic<size_t> connections_accepted_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, HttpResponse> routes_;
    std::function<HttpResponse(const RecordedRequest&)> handler_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

// Parses one request's head and body out of raw bytes; false when the head is incomplete.
bool parse_recorded_request(std::string_view raw, RecordedRequest& out);
