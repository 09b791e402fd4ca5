#include "web/http_request_object.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "runtime/gbk.h"
#include "runtime/stop.h"
#include "tests/support/gate.h"
#include "tests/support/http_server.h"
#include "tests/support/scoped_env.h"
#include "web/http_request_engine.h"
#include "web/http_response_text.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Position of a header among those received, -1 when absent.
int position(const RecordedRequest& r, std::string_view name) {
    for (size_t i = 0; i < r.headers.size(); ++i)
        if (text_lower(r.headers[i].first) == text_lower(name)) return int(i);
    return -1;
}

// A loopback port nobody listens on.
int closed_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class HttpRequestObjectTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.ok()); }
    void TearDown() override { set_current_stop_token({}); }

    Text url(const std::string& path) const { return server.base_url() + path; }
    // One GET through Open and Send; the request the server saw.
    RecordedRequest get(HttpRequestObject& o, const std::string& path) {
        server.clear_requests();
        Text u = url(path);
        o.Open("GET", u);
        o.Send();
        auto seen = server.requests();
        return seen.empty() ? RecordedRequest{} : seen.back();
    }

    // Every request stays on loopback, whatever proxy the machine has configured.
    ScopedEnv no_http_proxy{"http_proxy", nullptr}, no_all_proxy{"all_proxy", nullptr},
        no_proxy_list{"no_proxy", nullptr};
    HttpServer server;
};

TEST_F(HttpRequestObjectTest, PlainGetCarriesTheFourDefaultsInOrder) {
    server.set_route("/list.htm", HttpResponse::text("page"));
    HttpRequestObject o;
    RecordedRequest r = get(o, "/list.htm?x=1");
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/list.htm?x=1");
    EXPECT_EQ(r.version, "HTTP/1.1");
    const std::vector<std::pair<const char*, std::string>> expected = {
        {"Accept", "*/*"},
        {"Accept-Language", "zh-cn"},
        {"Referer", url("/list.htm?x=1")},
        {"User-Agent", kAgent}};
    int last = -1;
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(r.count(name), 1) << name;
        EXPECT_EQ(r.header(name), value) << name;
        EXPECT_GT(position(r, name), last) << name << " out of order";
        last = position(r, name);
    }
    EXPECT_EQ(r.count("Content-Type"), 0);
    EXPECT_EQ(r.count("Expect"), 0);
    EXPECT_EQ(o.ResponseBodyText(), "page");
}

TEST_F(HttpRequestObjectTest, OpenPrefixesHttpAndWritesTheUrlBack) {
    server.set_route("/shop/list.htm", HttpResponse::text("ok"));
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    struct Case {
        std::string given, opened;
        bool sent;  // reaches the loopback server
    } cases[] = {
        {host + "/shop/list.htm?x=1", "http://" + host + "/shop/list.htm?x=1", true},
        {"HTTP://" + host + "/shop/list.htm", "HTTP://" + host + "/shop/list.htm", true},
        {"HTTPS://shop/", "HTTPS://shop/", false},
        {"hTtp://" + host + "/shop/list.htm", "hTtp://" + host + "/shop/list.htm", true},
    };
    for (const auto& c : cases) {
        HttpRequestObject o;
        Text u = c.given;
        o.Open("GET", u);
        EXPECT_EQ(u, c.opened);
        if (!c.sent) continue;
        server.clear_requests();
        o.Send();
        ASSERT_EQ(server.requests().size(), 1u) << c.given;
        EXPECT_EQ(server.requests()[0].header("Referer"), c.opened);
        EXPECT_EQ(o.Status(), 200) << o.LastError();
    }
}

TEST_F(HttpRequestObjectTest, UnsafeUrlBytesAreEscapedInTheUrlCodePage) {
    server.set_route("/s", HttpResponse::text("ok"));
    const Text zhong = utf8_to_gbk("\xE4\xB8\xAD");  // 中
    struct Case {
        long long code_page;
        Text query;
        const char* target;
    } cases[] = {{65001, "q=" + zhong, "/s?q=%E4%B8%AD"},
                 {936, "q=" + zhong, "/s?q=%D6%D0"},
                 {65001, "q=a b%41", "/s?q=a%20b%41"}};
    for (const auto& c : cases) {
        HttpRequestObject o;
        o.Option(2, int(c.code_page));
        EXPECT_EQ(get(o, "/s?" + c.query).target, c.target) << c.code_page;
        EXPECT_EQ(o.Status(), 200) << o.LastError();
    }
}

TEST_F(HttpRequestObjectTest, HeaderSetBetweenOpenAndSendSuppressesItsDefaultOnce) {
    server.set_route("/p", HttpResponse::text("ok"));
    struct Case {
        const char* name;  // as the caller spells it
        const char* wire;
        const char* value;
    } cases[] = {{"ACCEPT", "Accept", "text/html"},
                 {"accept-language", "Accept-Language", "en"},
                 {"Referer", "Referer", "http://elsewhere/"},
                 {"User-Agent", "User-Agent", "tester/1"}};
    for (const auto& c : cases) {
        HttpRequestObject o;
        Text u = url("/p");
        server.clear_requests();
        o.Open("GET", u);
        o.SetRequestHeader(c.name, c.value);
        o.Send();
        RecordedRequest first = server.requests().at(0);
        EXPECT_EQ(first.count(c.wire), 1) << c.name;
        EXPECT_EQ(first.header(c.wire), c.value) << c.name;
        EXPECT_EQ(first.header("Accept-Language").empty(), false);
        // The next Open brings the default back.
        RecordedRequest second = get(o, "/p");
        EXPECT_NE(second.header(c.wire), c.value) << c.name;
        EXPECT_EQ(second.count(c.wire), 1) << c.name;
    }
}

TEST_F(HttpRequestObjectTest, EmptyOrZeroValuesAndStoredDefaults) {
    server.set_route("/p", HttpResponse::text("ok"));
    HttpRequestObject o;
    Text u = url("/p");

    // An empty value raises no flag: the default Referer still goes out.
    o.Open("GET", u);
    o.SetRequestHeader("Referer", "");
    o.Send();
    EXPECT_EQ(server.requests().back().header("Referer"), u);

    // The zero variant raises the flag whatever the value and sends "0".
    server.clear_requests();
    o.Open("GET", u);
    o.SetRequestHeaderZero("referer");
    o.Send();
    EXPECT_EQ(server.requests().back().header("Referer"), "0");

    // SetAccept stores its value as the default for later requests; SetUserAgent() without a
    // value sends the stored one.
    server.clear_requests();
    o.Open("GET", u);
    o.SetAccept("text/plain");
    o.SetUserAgent();
    o.Send();
    EXPECT_EQ(server.requests().back().header("Accept"), "text/plain");
    EXPECT_EQ(server.requests().back().count("User-Agent"), 1);
    EXPECT_EQ(server.requests().back().header("User-Agent"), kAgent);
    EXPECT_EQ(get(o, "/p").header("Accept"), "text/plain");
    o.SetDefaults();
    EXPECT_EQ(get(o, "/p").header("Accept"), "*/*");
}

TEST_F(HttpRequestObjectTest, PostCarriesFormContentTypeAfterTheOtherDefaults) {
    server.set_route("/form", HttpResponse::text("ok"));
    HttpRequestObject o;
    Text u = url("/form");
    o.Open("post", u);
    o.Send("a=1");
    RecordedRequest r = server.requests().at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.body, "a=1");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.count("Content-Type"), 1);
    EXPECT_GT(position(r, "Content-Type"), position(r, "User-Agent"));

    // A caller's Content-Type wins; a GET with a body still gets none.
    server.clear_requests();
    o.Open("POST", u);
    o.SetContentType("text/plain");
    o.SendBytes(Bytes{'x', 0, 'y'});
    r = server.requests().at(0);
    EXPECT_EQ(r.header("Content-Type"), "text/plain");
    EXPECT_EQ(r.body, std::string("x\0y", 3));

    server.clear_requests();
    o.Open("GET", u);
    o.Send("q=2");
    r = server.requests().at(0);
    EXPECT_EQ(r.count("Content-Type"), 0);
    EXPECT_EQ(r.body, "q=2");
}

TEST_F(HttpRequestObjectTest, AutoHeadersOffSendsNoDefaultHeader) {
    server.set_route("/p", HttpResponse::text("ok"));
    for (const char* method : {"GET", "POST"}) {
        HttpRequestObject o;
        o.SetAutoHeaders(0);
        Text u = url("/p");
        server.clear_requests();
        o.Open(method, u);
        o.Send("a=1");
        RecordedRequest r = server.requests().at(0);
        for (const char* name : {"Accept", "Accept-Language", "Referer", "Content-Type"})
            EXPECT_EQ(r.count(name), 0) << method << " " << name;
        EXPECT_NE(r.header("User-Agent"), kAgent);
        // SetAutoHeaders() without a value turns them back on.
        o.SetAutoHeaders();
        EXPECT_EQ(get(o, "/p").header("Accept-Language"), "zh-cn") << method;
    }
}

TEST_F(HttpRequestObjectTest, ExtraHeaderSetters) {
    server.set_route("/p", HttpResponse::text("ok"));
    HttpRequestObject o;
    Text u = url("/p");
    o.Open("GET", u);
    o.SetClientIp("10.1.2.3");
    o.SetAjax();
    o.SetCookie("k=v");
    o.SetReferer("http://from/");
    o.Send();
    RecordedRequest r = server.requests().at(0);
    int last = -1;
    for (const char* name : {"X-Forwarded-For", "CLIENT_IP", "VIA", "REMOTE_ADDR"}) {
        EXPECT_EQ(r.header(name), "10.1.2.3") << name;
        EXPECT_GT(position(r, name), last) << name;
        last = position(r, name);
    }
    EXPECT_EQ(r.header("x-requested-with"), "XMLHttpRequest");
    EXPECT_EQ(r.header("Cookie"), "k=v");
    EXPECT_EQ(r.header("Referer"), "http://from/");
    EXPECT_EQ(r.count("Referer"), 1);

    // A value with a line break cannot smuggle in a header.
    server.clear_requests();
    o.Open("GET", u);
    o.SetRequestHeader("X-A", "1\r\nX-Injected: 2");
    EXPECT_FALSE(o.LastError().empty());
    o.Send();
    EXPECT_EQ(server.requests().at(0).count("X-Injected"), 0);
}

TEST_F(HttpRequestObjectTest, StatusHeadersAndCookiesOfARealResponse) {
    HttpResponse page = HttpResponse::text("missing", 404);
    page.headers.emplace_back("Set-Cookie", "a=1; path=/");
    page.headers.emplace_back("Set-Cookie", "gone=deleted; path=/");
    page.headers.emplace_back("Set-Cookie", "  c=3;domain=127.0.0.1");
    page.headers.emplace_back("Set-Cookie", "bare=4");
    page.headers.emplace_back("X-Test", " spaced value ");
    server.set_route("/p", page);
    HttpRequestObject o;
    get(o, "/p");
    EXPECT_EQ(o.Status(), 404);
    EXPECT_EQ(o.StatusText(), "Not Found");
    EXPECT_EQ(o.GetResponseHeader("x-test"), "spaced value");
    const Text all = o.GetAllResponseHeaders();
    EXPECT_EQ(all.find("HTTP/1.1"), Text::npos);
    EXPECT_NE(all.find("Content-Type: text/html\r\nSet-Cookie: a=1; path=/\r\n"), Text::npos);
    EXPECT_EQ(all.substr(all.size() - 2), "\r\n");
    EXPECT_EQ(o.GetCookie("a"), "1");
    EXPECT_EQ(o.GetCookie("bare"), "4");
    EXPECT_EQ(o.GetCookie("none"), "");
    EXPECT_EQ(o.GetAllCookies(), "a=1; c=3; bare=4");
    EXPECT_EQ(o.ResponseBodyText(), "missing");

    EXPECT_EQ(o.GetResponseHeader("X-Absent"), "");
    EXPECT_NE(o.LastError().find("X-Absent"), Text::npos);
}

TEST(HttpCookieText, AllCookiesFromHeaderText) {
    struct Case {
        const char* headers;
        const char* cookies;
    } cases[] = {
        {"Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2; domain=x\r\n", "a=1; b=2"},
        {"Set-Cookie: a=deleted;\r\nSet-Cookie: b=2;\r\n", "b=2"},
        {"Set-Cookie: a=DELETED;\r\nset-cookie: b=Deleted;\r\nSET-COOKIE:c=3;\r\n", "c=3"},
        {"Set-Cookie: a=1;\r\nSet-Cookie: a=2;\r\n", "a=1; a=2"},
        {"Content-Type: text/html\r\n", ""},
        {"", ""},
        {"Set-Cookie:   x=1; path=/\r\n", "x=1"},
        // Full-width spaces are trimmed too.
        {"Set-Cookie:\xA1\xA1y=2;\r\n", "y=2"},
        // A cookie without attributes ends with its line and does not swallow the next one.
        {"Set-Cookie: a=1\r\nSet-Cookie: b=2; path=/\r\n", "a=1; b=2"},
        {"Set-Cookie: last=9", "last=9"},
        {"Set-Cookie: old=deleted\r\nSet-Cookie: k=v\r\n", "k=v"},
        {"Set-Cookie:\r\nSet-Cookie: k=v;\r\n", "k=v"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cookies_from_headers(c.headers), c.cookies) << c.headers;
}

TEST(HttpCookieText, OneCookieFromHeaderText) {
    struct Case {
        const char* headers;
        const char* name;
        const char* value;
    } cases[] = {
        {"Set-Cookie: a=1; path=/\r\n", "a", "1"},
        {"Set-Cookie:a=2; path=/\r\n", "a", "2"},  // the form without a blank
        {"Set-Cookie: a=; path=/\r\nSet-Cookie:a=3;\r\n", "a", "3"},
        {"Set-Cookie: ab=1;\r\nSet-Cookie: b=2;\r\n", "b", "2"},
        {"set-cookie: a=1;\r\n", "a", ""},  // the marker's case is exact
        {"Set-Cookie: a=1\r\nSet-Cookie: b=2;\r\n", "a", "1"},
        {"Set-Cookie: b=2;\r\n", "a", ""},
        {"", "a", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cookie_from_headers(c.headers, c.name), c.value) << c.headers;
}

TEST(HttpResponseText, DecodedByDeclaredCharset) {
    const Text zhong = utf8_to_gbk("\xE4\xB8\xAD");  // 中
    const std::string utf8 = "\xE4\xB8\xAD";
    const std::string gbk = zhong;
    struct Case {
        std::string body, content_type;
        Text text;
    } cases[] = {
        {"a" + utf8, "text/html; charset=utf-8", "a" + zhong},
        {"a" + utf8, "text/html", "a" + zhong},  // none declared: UTF-8
        {"a" + gbk, "text/html; charset=GBK", "a" + zhong},
        {"a" + gbk, "text/html; Charset=\"gb2312\"", "a" + zhong},
        {"caf\xE9", "text/plain; charset=iso-8859-1", utf16_to_gbk(u"caf\u00E9")},
        {"\xEF\xBB\xBF" + utf8, "text/html; charset=gbk", zhong},  // a byte-order mark wins
        {std::string("\xFF\xFE\x2D\x4E", 4), "", zhong},
        {std::string("ab\0cd", 5), "text/html; charset=utf-8", "ab"},
        {std::string("ab\0cd", 5), "text/html; charset=gbk", "ab"},
        {"", "text/html", ""},
    };
    for (const auto& c : cases) {
        Bytes body(c.body.begin(), c.body.end());
        EXPECT_EQ(decode_response_text(body, c.content_type), c.text) << c.content_type;
    }
}

TEST_F(HttpRequestObjectTest, BodyReadersOnOneResponse) {
    const std::string utf8 = "x\xE4\xB8\xAD";
    HttpResponse page = HttpResponse::text(utf8 + std::string("\0tail", 5));
    page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    server.set_route("/u", page);
    HttpRequestObject o;
    get(o, "/u");
    const Text zhong = "x" + utf8_to_gbk("\xE4\xB8\xAD");
    EXPECT_EQ(o.ResponseBody().size(), utf8.size() + 5);
    EXPECT_EQ(o.ResponseBodyText(), utf8);  // raw bytes, up to the NUL
    EXPECT_EQ(o.ResponseBodyUtf8(), zhong);
    EXPECT_EQ(o.ResponseText(), zhong);
    auto stream = o.ResponseStream();
    ASSERT_TRUE(std::holds_alternative<Bytes>(stream));
    EXPECT_EQ(std::get<Bytes>(stream).size(), utf8.size() + 5);
}

TEST_F(HttpRequestObjectTest, RedirectsFollowedUnlessOptionSixIsOff) {
    HttpResponse moved = HttpResponse::redirect("/final");
    moved.headers.emplace_back("X-Hop", "1");
    server.set_route("/start", moved);
    server.set_route("/final", HttpResponse::text("arrived"));
    HttpRequestObject o;
    EXPECT_EQ(std::get<bool>(o.Option(6)), true);
    get(o, "/start");
    EXPECT_EQ(o.Status(), 200);
    EXPECT_EQ(o.ResponseBodyText(), "arrived");
    EXPECT_EQ(o.GetAllResponseHeaders().find("X-Hop"), Text::npos);  // the final response only
    EXPECT_EQ(o.Location(), "");
    EXPECT_EQ(std::get<Text>(o.Option(1)), url("/final"));

    o.EnableRedirects(false);
    EXPECT_EQ(std::get<bool>(o.Option(6)), false);
    get(o, "/start");
    EXPECT_EQ(o.Status(), 302);
    EXPECT_EQ(o.Location(), "/final");
    EXPECT_EQ(o.ResponseBodyText(), "moved");

    EXPECT_EQ(std::get<bool>(o.Option(6, 1)), true);
    get(o, "/start");
    EXPECT_EQ(o.ResponseBodyText(), "arrived");
}

TEST_F(HttpRequestObjectTest, OptionsReadWriteAndRefuse) {
    HttpRequestObject o;
    struct Case {
        int number;
        HttpVariant write;
        HttpVariant read;
    } cases[] = {
        {0, Text("agent/2"), Text("agent/2")},
        {14, Text("3"), 3LL},
        {17, false, false},
        {2, 936LL, 936LL},
        {9, 8LL, 8LL},  // kept and read back
    };
    for (const auto& c : cases) {
        EXPECT_EQ(o.Option(c.number, std::nullopt, std::nullopt, std::nullopt, c.write), c.read)
            << c.number;
    }
    const Text before = o.LastError();
    EXPECT_EQ(o.Option(14, std::nullopt, Text("many")), HttpVariant(3LL));  // refused, unchanged
    EXPECT_NE(o.LastError(), before);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(o.Option(19)));
    EXPECT_NE(o.LastError().find("19"), Text::npos);
    o.Option(1, std::nullopt, Text("http://x/"));
    EXPECT_NE(o.LastError().find("cannot be written"), Text::npos);

    // Option 0 is the agent sent when auto headers are off; option 17 off means HTTP/1.0.
    server.set_route("/p", HttpResponse::text("ok"));
    o.SetAutoHeaders(0);
    RecordedRequest r = get(o, "/p");
    EXPECT_EQ(r.header("User-Agent"), "agent/2");
    EXPECT_EQ(r.version, "HTTP/1.0");
}

TEST_F(HttpRequestObjectTest, ResponseCookiesStayWithTheObjectAndItsCopies) {
    HttpResponse login = HttpResponse::text("in");
    login.headers.emplace_back("Set-Cookie", "sid=abc; path=/");
    server.set_route("/login", login);
    server.set_route("/next", HttpResponse::text("ok"));
    HttpRequestObject o;
    get(o, "/login");
    EXPECT_EQ(get(o, "/next").header("Cookie"), "sid=abc");
    HttpRequestObject same = o.copy();
    EXPECT_EQ(get(same, "/next").header("Cookie"), "sid=abc");
    HttpRequestObject fresh;
    EXPECT_EQ(get(fresh, "/next").count("Cookie"), 0);
}

TEST_F(HttpRequestObjectTest, CopySharesTheComponentAndCopiesTheDefaults) {
    server.set_route("/p", HttpResponse::text("ok"));
    HttpRequestObject o;
    o.SetAccept("text/a");
    HttpRequestObject c = o.copy();
    EXPECT_EQ(c.GetObject(), o.GetObject());
    o.SetAccept("text/b");
    EXPECT_EQ(get(c, "/p").header("Accept"), "text/a");
    EXPECT_EQ(get(o, "/p").header("Accept"), "text/b");
    // Both read the one response of the shared component.
    EXPECT_EQ(c.Status(), 200);
    c.Release();
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_FALSE(o.IsEmpty());
    EXPECT_EQ(get(o, "/p").header("Accept"), "text/b");
}

TEST_F(HttpRequestObjectTest, FailuresGiveEmptyValuesAndAnErrorText) {
    HttpRequestObject o;
    o.Send();
    EXPECT_NE(o.LastError().find("Open"), Text::npos);

    Text refused = "http://127.0.0.1:" + std::to_string(closed_port()) + "/x";
    o.Open("GET", refused);
    o.Send();
    const Text error = o.LastError();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(o.Status(), 0);
    EXPECT_EQ(o.StatusText(), "");
    EXPECT_EQ(o.ResponseBodyText(), "");
    EXPECT_TRUE(o.ResponseBody().empty());
    EXPECT_EQ(o.GetAllCookies(), "");

    // Open refuses what is not an http or https URL with a host; Send then has nothing to send.
    for (const char* given : {"httpx://127.0.0.1/x", "http://", "http://[::1/x"}) {
        Text bad = given;
        o.Open("GET", bad);
        EXPECT_NE(o.LastError().find("Open:"), Text::npos) << given;
        o.Send();
        EXPECT_NE(o.LastError().find("Send:"), Text::npos) << given;
    }

    o.Release();
    EXPECT_TRUE(o.IsEmpty());
    Text u = url("/p");
    o.Open("GET", u);
    o.Send();
    EXPECT_EQ(o.ResponseBodyText(), "");
    EXPECT_NE(o.LastError().find("no request object"), Text::npos);
    o.Recreate();
    server.set_route("/p", HttpResponse::text("back"));
    get(o, "/p");
    EXPECT_EQ(o.ResponseBodyText(), "back");
}

TEST_F(HttpRequestObjectTest, StalledOrBrokenResponsesGiveNoResponse) {
    HttpResponse stall = HttpResponse::text("0123456789");
    stall.mode = HttpResponse::Mode::Stall;
    stall.close_after = 4;
    server.set_route("/stall", stall);
    HttpResponse drop = stall;
    drop.mode = HttpResponse::Mode::CloseMidBody;
    server.set_route("/drop", drop);

    HttpRequestObject o;
    o.SetTimeouts(1000, 1000, 300, 300);
    const auto start = Clock::now();
    get(o, "/stall");
    EXPECT_LT(ms_since(start), 5000);
    EXPECT_NE(o.LastError().find("timed out"), Text::npos) << o.LastError();
    EXPECT_EQ(o.Status(), 0);
    EXPECT_EQ(o.ResponseBodyText(), "");

    get(o, "/drop");
    EXPECT_FALSE(o.LastError().empty());
    EXPECT_EQ(o.ResponseBodyText(), "");
}

TEST_F(HttpRequestObjectTest, StopTokenEndsAStalledSendAtOnce) {
    HttpResponse stall = HttpResponse::text("never");
    stall.mode = HttpResponse::Mode::Stall;
    server.set_route("/stall", stall);
    std::stop_source run;
    set_current_stop_token(run.get_token());
    Clock::time_point stopped_at;
    std::jthread stopper([&] {
        server.wait_for_requests(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stopped_at = Clock::now();
        run.request_stop();
    });
    HttpRequestObject o;
    get(o, "/stall");
    const auto returned = Clock::now();
    stopper.join();
    const auto after_stop =
        std::chrono::duration_cast<std::chrono::milliseconds>(returned - stopped_at).count();
    EXPECT_LT(after_stop, 100);
    EXPECT_NE(o.LastError().find("stopped"), Text::npos) << o.LastError();

    // Once stopped, nothing more goes out for that run.
    server.clear_requests();
    get(o, "/stall");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(HttpRequestObjectTest, AsyncSendWaitAndAbort) {
    // The slow answer is held until the test has seen Send return without it.
    auto slow = std::make_shared<Gate>();
    server.set_handler([slow](const RecordedRequest& r) {
        if (r.path() == "/slow") slow->wait();
        if (r.path() == "/stall") {
            HttpResponse s = HttpResponse::text("x");
            s.mode = HttpResponse::Mode::Stall;
            return s;
        }
        return HttpResponse::text("done");
    });
    HttpRequestObject o;
    EXPECT_FALSE(o.WaitForResponse(0));  // nothing sent yet
    Text u = url("/slow");
    o.Open("GET", u, true);
    o.Send();
    EXPECT_FALSE(o.WaitForResponse(0));
    EXPECT_EQ(o.ResponseBodyText(), "");  // not there yet
    slow->release();
    EXPECT_TRUE(o.WaitForResponse(5));
    EXPECT_EQ(o.ResponseBodyText(), "done");

    Text s = url("/stall");
    o.Open("GET", s, true);
    o.Send();
    server.wait_for_requests(1);
    const auto abort_start = Clock::now();
    o.Abort();
    EXPECT_LT(ms_since(abort_start), 1000);
    EXPECT_EQ(o.ResponseBodyText(), "");
}

TEST_F(HttpRequestObjectTest, ProxyFromEnvironmentOrSetProxy) {
    server.set_route("/via", HttpResponse::text("proxied"));
    HttpServer target;  // would answer "direct" if reached without the proxy
    target.set_route("/via", HttpResponse::text("direct"));
    const Text proxy = server.base_url();
    {
        ScopedEnv env("http_proxy", proxy.c_str());
        HttpRequestObject system;  // honours http_proxy by default
        Text u = target.base_url() + "/via";
        system.Open("GET", u);
        system.Send();
        EXPECT_EQ(system.ResponseBodyText(), "proxied");
        EXPECT_EQ(server.requests().back().target, u);

        HttpRequestObject direct;
        direct.SetProxy(1);
        direct.Open("GET", u);
        direct.Send();
        EXPECT_EQ(direct.ResponseBodyText(), "direct");
    }
    HttpRequestObject named;
    named.SetProxy(2, proxy);
    Text u = target.base_url() + "/via";
    named.Open("GET", u);
    named.Send();
    EXPECT_EQ(named.ResponseBodyText(), "proxied");
    named.SetProxy(2, proxy, Text("127.0.0.1;<local>"));
    named.Open("GET", u);
    named.Send();
    EXPECT_EQ(named.ResponseBodyText(), "direct");
    named.SetProxy(2);
    EXPECT_NE(named.LastError().find("no proxy server"), Text::npos);
}

TEST_F(HttpRequestObjectTest, CredentialsAnswerTheServersChallenge) {
    server.set_handler([](const RecordedRequest& r) {
        if (r.header("Authorization").empty()) {
            HttpResponse challenge = HttpResponse::text("who?", 401);
            challenge.headers.emplace_back("WWW-Authenticate", "Basic realm=\"z\"");
            return challenge;
        }
        return HttpResponse::text(r.header("Authorization"));
    });
    HttpRequestObject o;
    Text u = url("/secret");
    o.Open("GET", u);
    o.SetCredentials("user", "pw");
    o.Send();
    EXPECT_EQ(o.Status(), 200);
    EXPECT_EQ(o.ResponseBodyText(), "Basic dXNlcjpwdw==");
    o.SetCredentials("user", "pw", 7);
    EXPECT_NE(o.LastError().find("flags"), Text::npos);
}

// Like any broken transfer, a body over the cap is a failed request: no response, an error text.
TEST_F(HttpRequestObjectTest, BodyBeyondTheCapFailsTheRequest) {
    const size_t cap = HttpRequestEngine::kBodyCap;
    server.set_route("/huge", HttpResponse::text(std::string(cap + 4096, 'z')));
    HttpRequestObject o;
    get(o, "/huge");
    EXPECT_EQ(o.LastError(), "Send: the response body is larger than 64 MiB; nothing was kept");
    EXPECT_TRUE(o.ResponseBody().empty());
    EXPECT_EQ(o.Status(), 0);
}

// Receive time-out counts from the last byte: a byte every 1.5 s under a 3 s limit is a slow
// answer, not a silent one.
TEST_F(HttpRequestObjectTest, TrickleWithinTheReceiveTimeoutArrivesWhole) {
    HttpResponse trickle = HttpResponse::text("abc");
    trickle.mode = HttpResponse::Mode::Trickle;
    trickle.stall_ms = 1500;
    server.set_route("/slow", trickle);
    HttpRequestObject o;
    o.SetTimeouts(5000, 5000, 3000, 3000);
    get(o, "/slow");
    EXPECT_EQ(o.ResponseBodyText(), "abc") << o.LastError();
    EXPECT_EQ(o.Status(), 200);
}

// "No limit" written as the largest time-outs must not wrap into a limit that fails every request.
TEST_F(HttpRequestObjectTest, LargestTimeoutsStillFetch) {
    server.set_route("/p", HttpResponse::text("body"));
    HttpRequestObject o;
    o.SetTimeouts(INT_MAX, INT_MAX, INT_MAX, INT_MAX);
    get(o, "/p");
    EXPECT_EQ(o.ResponseBodyText(), "body") << o.LastError();
}

}  // namespace
