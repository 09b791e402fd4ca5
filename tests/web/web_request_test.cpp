#include "web/web_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "runtime/stop.h"
#include "tests/support/http_server.h"
#include "tests/support/scoped_env.h"
#include "tests/support/tls_server.h"
#include "web/cookie_store.h"
#include "web/transfer_limits.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string as_string(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

// Every test talks to loopback servers only: a proxy set on the machine must not get in between.
class WebRequestTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = transfer_limits();
        TransferLimits quick;
        quick.connect_timeout = std::chrono::seconds(5);
        quick.idle_timeout = std::chrono::milliseconds(500);
        set_transfer_limits(quick);
        clear_cookies();
        ASSERT_TRUE(server.ok());
    }
    void TearDown() override {
        set_transfer_limits(saved_);
        set_current_stop_token({});
        clear_cookies();
    }

    std::string url(const std::string& path) const { return server.base_url() + path; }

    ScopedEnv no_http_proxy{"http_proxy", nullptr}, no_https_proxy{"https_proxy", nullptr},
        no_all_proxy{"all_proxy", nullptr}, no_proxy_list{"no_proxy", nullptr};
    HttpServer server;
    TransferLimits saved_;
};

TEST(WebUrlSplit, PiecesDefaultsAndDotSegments) {
    struct Case {
        const char* url;
        const char* scheme;
        const char* host;
        int port;
        const char* path_and_query;
        const char* user;
        const char* password;
    } cases[] = {
        {"http://host/path?q=1#frag", "http", "host", 80, "/path?q=1", "", ""},
        {"https://host", "https", "host", 443, "/", "", ""},
        {"HTTPS://Host.Example", "https", "Host.Example", 443, "/", "", ""},
        {"http://host:8080?x=1", "http", "host", 8080, "/?x=1", "", ""},
        {"http://u:p@host:81/a", "http", "host", 81, "/a", "u", "p"},
        {"http://u@host/a", "http", "host", 80, "/a", "u", ""},
        {"http://[::1]:8080/a", "http", "[::1]", 8080, "/a", "", ""},
        {"http://host/a/./b/../c?x=/../y", "http", "host", 80, "/a/c?x=/../y", "", ""},
        {"http://host/../../a", "http", "host", 80, "/a", "", ""},
        {"http://host/a/b/..", "http", "host", 80, "/a/", "", ""},
        // Nothing is escaped or unescaped on the way: callers pass ready URLs.
        {"http://host/%2e%2e/a?k=%B0%A1", "http", "host", 80, "/%2e%2e/a?k=%B0%A1", "", ""},
        {"http://host/a?k=\xb0\xa1", "http", "host", 80, "/a?k=\xb0\xa1", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::optional<WebUrl> u = split_web_url(c.url);
        ASSERT_TRUE(u.has_value());
        EXPECT_EQ(u->scheme, c.scheme);
        EXPECT_EQ(u->host, c.host);
        EXPECT_EQ(u->port, c.port);
        EXPECT_EQ(u->path_and_query, c.path_and_query);
        EXPECT_EQ(u->user, c.user);
        EXPECT_EQ(u->password, c.password);
    }
    EXPECT_EQ(split_web_url("https://host/a")->request_url(), "https://host:443/a");
    EXPECT_EQ(split_web_url("http://host/a")->request_url(), "http://host:80/a");
}

TEST(WebUrlSplit, RefusedUrls) {
    const std::string path_2048 = "/" + std::string(2047, 'p');
    const std::string host_256 = std::string(256, 'h');
    struct Case {
        std::string url;
        bool accepted;
    } cases[] = {
        {"", false},
        {"#frag", false},
        {"ftp://host/file", false},
        {"file:///etc/passwd", false},
        {"gopher://host/", false},
        {"www.taobao.com/a", false},
        {"http:/host/a", false},
        {"http://", false},
        {"http://:80/", false},
        {"http://host:0/", false},
        {"http://host:65536/", false},
        {"http://host:8x/", false},
        {"http://[::1/", false},
        {"http://" + host_256 + "/", true},
        {"http://" + host_256 + "h/", false},
        {"http://host" + path_2048, true},
        {"http://host" + path_2048 + "p", false},
        {"http://host" + path_2048.substr(0, 2040) + "?q=12345", true},
        {"http://host" + path_2048.substr(0, 2040) + "?q=123456", false},
        {"http://" + std::string(128, 'u') + ":" + std::string(128, 'w') + "@host/", true},
        {"http://" + std::string(129, 'u') + "@host/", false},
        {"http://u:" + std::string(129, 'w') + "@host/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 60));
        EXPECT_EQ(split_web_url(c.url).has_value(), c.accepted);
    }
}

TEST(WebUrlSplit, DotSegments) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"/a/b/c/./../../g", "/a/g"},
        {"mid/content=5/../6", "mid/6"},
        {"/./", "/"},
        {"/a/..", "/"},
        {"/a/../..", "/"},
        {"/a/b/.", "/a/b/"},
        {"/a//../b", "/a/b"},
        {"/.hidden/..x", "/.hidden/..x"},
        {"/", "/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(remove_dot_segments(c.in), c.out) << c.in;
}

TEST_F(WebRequestTest, RefusedUrlsNeverReachTheNetwork) {
    server.set_route("/a", HttpResponse::text("page"));
    const std::string authority = "127.0.0.1:" + std::to_string(server.port());
    const std::string urls[] = {
        "",
        "ftp://" + authority + "/a",
        authority + "/a",
        "file://" + authority + "/a",
        "http://" + authority + "/" + std::string(2048, 'a'),
        "http://" + std::string(129, 'u') + "@" + authority + "/a",
        // Unescaped blanks are not sent as they would break the request line.
        "http://" + authority + "/a?k=a b",
    };
    for (const std::string& u : urls)
        EXPECT_TRUE(WebRequest(u).empty()) << u.substr(0, 60);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(WebRequestTest, RequestOnTheWire) {
    server.set_route("/path", HttpResponse::text("body"));
    struct Case {
        std::string url;
        std::string request_line;
    } cases[] = {
        {url("/path?q=1#frag"), "GET /path?q=1 HTTP/1.0"},
        {url("/x/../path/./?q=/../z"), "GET /path/?q=/../z HTTP/1.0"},
        {url("/path?k=%B0%A1&g=\xb0\xa1"), "GET /path?k=%B0%A1&g=\xb0\xa1 HTTP/1.0"},
        {url(""), "GET / HTTP/1.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        server.clear_requests();
        WebRequest(c.url);
        std::vector<RecordedRequest> got = server.requests();
        ASSERT_EQ(got.size(), 1u);
        const RecordedRequest& r = got[0];
        EXPECT_EQ(r.raw.substr(0, r.raw.find("\r\n")), c.request_line);
        EXPECT_EQ(r.raw.find("frag"), std::string::npos);
        EXPECT_EQ(r.count("Accept"), 1);
        EXPECT_EQ(r.header("Accept"), "*/*");
        EXPECT_EQ(r.count("User-Agent"), 1);
        EXPECT_EQ(r.header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
        EXPECT_EQ(r.header("Host"), "127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(r.count("Pragma"), 0);
        EXPECT_EQ(r.count("Cookie"), 0);
        EXPECT_EQ(r.count("Accept-Encoding"), 0);  // bytes arrive as the server sent them
    }
}

TEST_F(WebRequestTest, BodiesWhateverTheStatus) {
    struct Case {
        const char* name;
        HttpResponse response;
        std::string expected;
    };
    HttpResponse unannounced = HttpResponse::text(pattern(30000));
    unannounced.content_length = false;
    HttpResponse with_nul = HttpResponse::text(std::string("a\0b\0c", 5));
    HttpResponse dropped = HttpResponse::text(pattern(5000));
    dropped.mode = HttpResponse::Mode::CloseMidBody;
    dropped.close_after = 1000;
    HttpResponse dropped_unannounced = dropped;
    dropped_unannounced.content_length = false;
    HttpResponse overclaimed = HttpResponse::text("short");
    overclaimed.declared_length = 100000;
    Case cases[] = {
        {"no Content-Length", unannounced, pattern(30000)},
        {"large", HttpResponse::text(pattern(500000)), pattern(500000)},
        {"404", HttpResponse::text("<h1>gone</h1>", 404), "<h1>gone</h1>"},
        {"500", HttpResponse::text("server broke", 500), "server broke"},
        {"NUL bytes", with_nul, std::string("a\0b\0c", 5)},
        {"drop mid-body", dropped, pattern(1000)},
        {"drop without length", dropped_unannounced, pattern(1000)},
        {"length never reached", overclaimed, "short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.set_route("/page", c.response);
        EXPECT_EQ(as_string(WebRequest(url("/page"))), c.expected);
    }
}

TEST_F(WebRequestTest, RedirectsAreFollowed) {
    HttpServer other;
    ASSERT_TRUE(other.ok());
    other.set_route("/there", HttpResponse::text("other host"));
    server.set_route("/final", HttpResponse::text("final page"));
    server.set_route("/one", HttpResponse::redirect("/two", 301));
    server.set_route("/two", HttpResponse::redirect(url("/three"), 302));
    server.set_route("/three", HttpResponse::redirect("final", 307));
    server.set_route(
        "/away",
        HttpResponse::redirect("http://localhost:" + std::to_string(other.port()) + "/there?x=1"));
    server.set_route("/loop", HttpResponse::redirect("/loop"));
    struct Case {
        const char* path;
        std::string expected;
    } cases[] = {
        {"/one", "final page"},
        {"/away", "other host"},
        {"/loop", ""},  // an endless chain ends in nothing, not a hang
    };
    for (const Case& c : cases)
        EXPECT_EQ(as_string(WebRequest(url(c.path))), c.expected) << c.path;
    ASSERT_EQ(other.requests().size(), 1u);
    EXPECT_EQ(other.requests()[0].target, "/there?x=1");
}

TEST_F(WebRequestTest, SilentServerIsAbandonedWithThePrefix) {
    struct Case {
        const char* name;
        size_t sent;
    } cases[] = {{"after headers", 0}, {"mid-body", 700}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpResponse stall = HttpResponse::text(pattern(2000));
        stall.mode = HttpResponse::Mode::Stall;
        stall.close_after = c.sent;
        server.set_route("/stall", stall);
        auto start = Clock::now();
        Bytes got = WebRequest(url("/stall"));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(as_string(got), pattern(c.sent));
    }
}

TEST_F(WebRequestTest, StopAbortsAStalledTransferAtOnce) {
    HttpResponse stall = HttpResponse::text(pattern(2000));
    stall.mode = HttpResponse::Mode::Stall;
    stall.close_after = 300;
    server.set_route("/stall", stall);
    TransferLimits patient = transfer_limits();
    patient.idle_timeout = std::chrono::seconds(30);
    set_transfer_limits(patient);

    std::stop_source source;
    set_current_stop_token(source.get_token());
    std::atomic<Clock::rep> stopped_at{0};
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stopped_at = Clock::now().time_since_epoch().count();
        source.request_stop();
    });
    Bytes got = WebRequest(url("/stall"));
    auto returned = Clock::now();
    stopper.join();
    auto after_stop = returned - Clock::time_point(Clock::duration(stopped_at.load()));
    // Left alone the stalled transfer would wait out its 30 s idle limit.
    EXPECT_LT(after_stop, std::chrono::seconds(5));
    EXPECT_EQ(as_string(got), pattern(300));

    // A run that is already stopped sends nothing more.
    server.clear_requests();
    EXPECT_TRUE(WebRequest(url("/stall")).empty());
    EXPECT_TRUE(server.requests().empty());
}

// An answer over the cap is no page: its first part must not pass for the whole.
TEST_F(WebRequestTest, BodyOverTheCapIsNoPage) {
    TransferLimits small = transfer_limits();
    small.max_body_bytes = 1000;
    set_transfer_limits(small);
    const struct {
        const char* path;
        size_t size;
        std::string expected;
    } cases[] = {
        {"/big", 50000, ""},
        {"/one-over", 1001, ""},
        {"/fits", 1000, pattern(1000)},
    };
    for (const auto& c : cases) {
        server.set_route(c.path, HttpResponse::text(pattern(c.size)));
        EXPECT_EQ(as_string(WebRequest(url(c.path))), c.expected) << c.path;
    }
}

// The idle limit counts from the last byte: a server sending a byte less often than once a second
// but well within the limit is slow, not silent, and its page arrives whole.
TEST_F(WebRequestTest, TrickleWithinTheIdleLimitArrivesWhole) {
    TransferLimits patient = transfer_limits();
    patient.idle_timeout = std::chrono::milliseconds(3000);
    set_transfer_limits(patient);
    HttpResponse trickle = HttpResponse::text("abc");
    trickle.mode = HttpResponse::Mode::Trickle;
    trickle.stall_ms = 1500;
    server.set_route("/slow", trickle);
    EXPECT_EQ(as_string(WebRequest(url("/slow"))), "abc");
}

TEST_F(WebRequestTest, CookiesFollowTheirHost) {
    server.set_route("/page", HttpResponse::text("page"));
    HttpResponse setter = HttpResponse::text("set");
    setter.headers.emplace_back("Set-Cookie", "sid=from-server; Path=/");
    server.set_route("/login", setter);
    const std::string port = std::to_string(server.port());
    ASSERT_TRUE(add_cookie({.name = "tk", .value = "abc", .domain = "127.0.0.1"}));

    struct Step {
        std::string url;
        const char* cookie_header;
    } steps[] = {
        {"http://127.0.0.1:" + port + "/page", "tk=abc"},
        {"http://localhost:" + port + "/page", ""},  // another host gets nothing
        {"http://127.0.0.1:" + port + "/login", "tk=abc"},
        {"http://127.0.0.1:" + port + "/page", "tk=abc; sid=from-server"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.url);
        server.clear_requests();
        WebRequest(s.url);
        ASSERT_EQ(server.requests().size(), 1u);
        std::string sent = server.requests()[0].header("Cookie");
        // The store decides the order; compare as a set of pairs.
        auto sorted = [](std::string v) {
            std::vector<std::string> parts;
            for (size_t p = 0; p != std::string::npos;) {
                size_t q = v.find("; ", p);
                parts.push_back(v.substr(p, q == std::string::npos ? q : q - p));
                p = q == std::string::npos ? q : q + 2;
            }
            std::sort(parts.begin(), parts.end());
            return parts;
        };
        EXPECT_EQ(sorted(sent), sorted(s.cookie_header));
    }
    ASSERT_TRUE(remove_cookie({.name = "tk", .domain = "127.0.0.1"}));
    server.clear_requests();
    WebRequest(url("/page"));
    EXPECT_EQ(server.requests().at(0).header("Cookie"), "sid=from-server");
}

TEST_F(WebRequestTest, SystemProxyCarriesTheRequest) {
    server.set_route("/a", HttpResponse::text("via proxy"));
    ASSERT_TRUE(add_cookie({.name = "d", .value = "1", .domain = ".example.test"}));
    // Never over plain HTTP (loopback addresses count as secure, so this needs a real name).
    ASSERT_TRUE(
        add_cookie({.name = "sec", .value = "1", .domain = ".example.test", .secure = true}));
    HttpServer direct;
    direct.set_route("/a", HttpResponse::text("direct"));
    ScopedEnv proxy("http_proxy", server.base_url().c_str());
    ScopedEnv bypass("no_proxy", "localhost");

    struct Case {
        std::string url;
        std::string body;
        const char* target;  // as the proxy saw it; empty when it went direct
        const char* cookie;
    } cases[] = {
        {"http://shop.example.test/a?x=1#f", "via proxy", "http://shop.example.test/a?x=1", "d=1"},
        {"http://elsewhere.test/a", "via proxy", "http://elsewhere.test/a", ""},
        {"http://localhost:" + std::to_string(direct.port()) + "/a", "direct", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        server.clear_requests();
        EXPECT_EQ(as_string(WebRequest(c.url)), c.body);
        std::vector<RecordedRequest> seen = server.requests();
        if (*c.target == '\0') {
            EXPECT_TRUE(seen.empty());
            continue;
        }
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].target, c.target);
        EXPECT_EQ(seen[0].version, "HTTP/1.0");
        EXPECT_EQ(seen[0].header("Cookie"), c.cookie);
    }
}

TEST_F(WebRequestTest, HttpsNeedsATrustedCertificate) {
    TlsServer tls;
    if (!tls.ok()) GTEST_SKIP() << "openssl s_server could not be started";
    ASSERT_TRUE(tls.put_page("page.html", "secure page"));
    const std::string page = tls.base_url() + "/page.html";

    EXPECT_TRUE(WebRequest(page).empty());  // self-signed and not trusted: refused

    TransferLimits trusting = transfer_limits();
    trusting.ca_file = tls.ca_file();
    set_transfer_limits(trusting);
    std::string got = as_string(WebRequest(page));
    EXPECT_NE(got.find("secure page"), std::string::npos) << got;

    // Plain HTTP to the TLS port does not get a page either.
    EXPECT_EQ(as_string(WebRequest("http://127.0.0.1:" + std::to_string(tls.port()) + "/page.html"))
                  .find("secure page"),
              std::string::npos);
}

TEST_F(WebRequestTest, ManyThreadsAtOnce) {
    server.set_handler(
        [](const RecordedRequest& r) { return HttpResponse::text("body of " + r.target); });
    constexpr int kThreads = 8, kEach = 50;
    std::atomic<int> wrong{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
                    if (as_string(WebRequest(url(path))) != "body of " + path) ++wrong;
                }
            });
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server.requests().size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
