#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>

namespace {

constexpr int kPollMs = 50;
constexpr int kRequestDeadlineMs = 10000;  // a client that never finishes its request is dropped

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return std::string(s.substr(b, e - b));
}

bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Sends FIN and lets the client read everything before the socket goes, so no reset eats the data.
void close_gracefully(int fd, const std::atomic<bool>& stopping) {
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
    while (!stopping && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        if (::recv(fd, sink, sizeof sink, 0) <= 0) break;
    }
    ::close(fd);
}

long long content_length_of(const RecordedRequest& r) {
    std::string v = r.header("Content-Length");
    if (v.empty()) return 0;
    try {
        return std::max(0LL, std::stoll(v));
    } catch (...) {
        return 0;
    }
}

}  // namespace

HttpResponse HttpResponse::text(std::string body, int status) {
    HttpResponse r;
    r.status = status;
    r.reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
    r.headers.emplace_back("Content-Type", "text/html");
    r.body = std::move(body);
    return r;
}

HttpResponse HttpResponse::redirect(std::string location, int status) {
    HttpResponse r;
    r.status = status;
    r.reason = "Found";
    r.headers.emplace_back("Location", std::move(location));
    r.body = "moved";
    return r;
}

std::string RecordedRequest::header(std::string_view name) const {
    for (const auto& [k, v] : headers)
        if (iequals(k, name)) return v;
    return {};
}

int RecordedRequest::count(std::string_view name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(),
                                          [&](const auto& h) { return iequals(h.first, name); }));
}

std::string RecordedRequest::path() const {
    std::string_view t = target;
    size_t scheme = t.find("://");
    if (scheme != std::string_view::npos && scheme < t.find('/')) {
        size_t slash = t.find('/', scheme + 3);
        t = slash == std::string_view::npos ? std::string_view("/") : t.substr(slash);
    }
    return std::string(t.substr(0, t.find('?')));
}

bool parse_recorded_request(std::string_view raw, RecordedRequest& out) {
    size_t head_end = raw.find("\r\n\r\n");
    if (head_end == std::string_view::npos) return false;
    out = RecordedRequest{};
    out.raw = std::string(raw);
    std::string_view head = raw.substr(0, head_end);
    size_t line_end = head.find("\r\n");
    std::string_view line = head.substr(0, line_end);
    size_t s1 = line.find(' ');
    size_t s2 = s1 == std::string_view::npos ? s1 : line.find(' ', s1 + 1);
    if (s1 != std::string_view::npos) {
        out.method = std::string(line.substr(0, s1));
        if (s2 != std::string_view::npos) {
            out.target = std::string(line.substr(s1 + 1, s2 - s1 - 1));
            out.version = std::string(line.substr(s2 + 1));
        } else {
            out.target = std::string(line.substr(s1 + 1));
        }
    }
    while (line_end != std::string_view::npos) {
        size_t start = line_end + 2;
        line_end = head.find("\r\n", start);
        std::string_view h = head.substr(
            start, line_end == std::string_view::npos ? std::string_view::npos : line_end - start);
        size_t colon = h.find(':');
        if (colon == std::string_view::npos) continue;
        out.headers.emplace_back(std::string(h.substr(0, colon)), trim(h.substr(colon + 1)));
    }
    out.body = std::string(raw.substr(head_end + 4));
    return true;
}

HttpServer::HttpServer() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, 256) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    listen_fd_ = fd;
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (acceptor_.joinable()) acceptor_.join();
    for (auto& t : connections_)
        if (t.joinable()) t.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
}

std::string HttpServer::base_url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void HttpServer::set_route(std::string path, HttpResponse r) {
    std::lock_guard lock(mutex_);
    routes_[std::move(path)] = std::move(r);
}

void HttpServer::set_handler(std::function<HttpResponse(const RecordedRequest&)> h) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(h);
}

std::vector<RecordedRequest> HttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HttpServer::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

bool HttpServer::wait_for_requests(size_t n, int timeout_ms) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return requests_.size() >= n; });
}

void HttpServer::accept_loop() {
    // Finished connection threads are joined as new ones arrive, so a long run keeps few around.
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> live;
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_accepted_;
        auto done = std::make_shared<std::atomic<bool>>(false);
        live.emplace_back(std::thread([this, fd, done] {
                              serve(fd);
                              *done = true;
                          }),
                          done);
        std::erase_if(live, [](auto& entry) {
            if (!*entry.second) return false;
            entry.first.join();
            return true;
        });
    }
    for (auto& entry : live)
        connections_.push_back(std::move(entry.first));
}

void HttpServer::serve(int fd) {
    std::string raw;  // bytes received and not yet part of a served request
    for (;;) {
        RecordedRequest request;
        bool complete = false;
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestDeadlineMs);
        char buffer[16384];
        while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
            if (parse_recorded_request(raw, request) &&
                static_cast<long long>(request.body.size()) >= content_length_of(request)) {
                complete = true;
                break;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, kPollMs) <= 0) continue;
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            raw.append(buffer, static_cast<size_t>(n));
        }
        if (!complete) {
            ::close(fd);
            return;
        }
        // Whatever follows this request's body belongs to the next one on the connection.
        const size_t length = request.raw.size() - request.body.size() +
                              static_cast<size_t>(content_length_of(request));
        raw.erase(0, length);
        request.raw.resize(length);
        request.body.resize(static_cast<size_t>(content_length_of(request)));
        HttpResponse response = answer(request);
        const bool keep = keep_alive_ && response.mode == HttpResponse::Mode::Normal &&
                          !iequals(request.header("Connection"), "close");
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(request));
        }
        changed_.notify_all();
        send_response(fd, response, keep && !response.close_unannounced);
        if (!keep || response.close_unannounced) {
            close_gracefully(fd, stopping_);
            return;
        }
    }
}

HttpResponse HttpServer::answer(const RecordedRequest& request) {
    std::function<HttpResponse(const RecordedRequest&)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
        if (!handler) {
            auto it = routes_.find(request.path());
            if (it != routes_.end()) return it->second;
        }
    }
    if (handler) return handler(request);
    return HttpResponse::text("<html>not found: " + request.path() + "</html>", 404);
}

void HttpServer::send_response(int fd, const HttpResponse& r, bool keep) {
    std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + r.reason + "\r\n";
    for (const auto& [k, v] : r.headers)
        head += k + ": " + v + "\r\n";
    if (r.declared_length)
        head += "Content-Length: " + std::to_string(*r.declared_length) + "\r\n";
    else if (r.content_length)
        head += "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    head += r.close_unannounced ? "\r\n"
            : keep              ? "Connection: keep-alive\r\n\r\n"
                                : "Connection: close\r\n\r\n";

    if (r.mode == HttpResponse::Mode::Normal) {
        send_all(fd, head + r.body);
        return;
    }
    if (r.mode == HttpResponse::Mode::Trickle) {
        if (!send_all(fd, head)) return;
        for (char byte : r.body) {
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::milliseconds(r.stall_ms),
                                  [&] { return stopping_.load(); }))
                return;
            lock.unlock();
            if (!send_all(fd, std::string(1, byte))) return;
        }
        return;
    }
    size_t sent = std::min(r.close_after, r.body.size());
    if (!send_all(fd, head + r.body.substr(0, sent))) return;
    if (r.mode == HttpResponse::Mode::CloseMidBody) return;
    std::unique_lock lock(mutex_);
    auto stopped = [&] { return stopping_.load(); };
    if (r.stall_ms > 0)
        changed_.wait_for(lock, std::chrono::milliseconds(r.stall_ms), stopped);
    else
        changed_.wait(lock, stopped);
}
