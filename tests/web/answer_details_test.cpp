// What both routes tell about an answer besides its body: the final status, where redirects led
// (also when following one failed), a transfer cut off; and the shared store's cookies for an
// address.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "runtime/stop.h"
#include "tests/support/http_server.h"
#include "tests/support/scoped_env.h"
#include "web/cookie_store.h"
#include "web/http_request_object.h"
#include "web/transfer_limits.h"
#include "web/web_request.h"

namespace {

// Nothing listens on port 1 of the loopback: a redirect there cannot be followed.
const std::string kUnreachable = "https://127.0.0.1:1/query.htm?smApp=rate";

class AnswerDetailsTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = transfer_limits();
        TransferLimits quick;
        quick.connect_timeout = std::chrono::seconds(5);
        quick.idle_timeout = std::chrono::milliseconds(500);
        set_transfer_limits(quick);
        clear_cookies();
        ASSERT_TRUE(server.ok());
        server.set_route("/moved", HttpResponse::redirect(kUnreachable));
        server.set_route("/hop", HttpResponse::redirect(server.base_url() + "/page"));
        server.set_route("/page", HttpResponse::text("the page"));
        server.set_route("/denied", HttpResponse::text("denied", 403));
        HttpResponse cut = HttpResponse::text(std::string(4000, 'x'));
        cut.mode = HttpResponse::Mode::CloseMidBody;
        cut.close_after = 100;
        server.set_route("/cut", cut);
    }
    void TearDown() override {
        set_transfer_limits(saved_);
        clear_cookies();
    }

    struct Seen {
        std::string body;
        int status;
        std::string reached;
        bool complete;
    };
    Seen by_web_request(const std::string& path) {
        WebAnswer a = WebRequestAnswer(server.base_url() + path);
        return {std::string(a.body.begin(), a.body.end()), a.status, a.reached_url, a.complete};
    }
    Seen by_request_object(const std::string& path) {
        HttpRequestObject http;
        Text url = server.base_url() + path;
        http.Open("GET", url);
        http.Send();
        const int status = http.Status();
        return {http.ResponseBodyText(), status, http.ReachedUrl(), status > 0};
    }

    ScopedEnv no_http_proxy{"http_proxy", nullptr}, no_https_proxy{"https_proxy", nullptr},
        no_all_proxy{"all_proxy", nullptr}, no_proxy_list{"no_proxy", nullptr};
    HttpServer server;
    TransferLimits saved_;
};

TEST_F(AnswerDetailsTest, BothRoutesTellStatusAndWhereRedirectsLed) {
    const std::string page = server.base_url() + "/page";
    struct Case {
        const char* path;
        std::string body;
        int status;
        std::string reached;
        bool complete;
    };
    const Case cases[] = {
        {"/page", "the page", 200, page, true},
        {"/hop", "the page", 200, page, true},
        {"/denied", "denied", 403, server.base_url() + "/denied", true},
        // The check's address is known although the security page itself never answered.
        {"/moved", "", 0, kUnreachable, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        for (const Seen& seen : {by_web_request(c.path), by_request_object(c.path)}) {
            EXPECT_EQ(seen.body, c.body);
            EXPECT_EQ(seen.status, c.status);
            EXPECT_EQ(seen.reached, c.reached);
            EXPECT_EQ(seen.complete, c.complete);
        }
    }
}

TEST_F(AnswerDetailsTest, ACutOffTransferIsNoWholeAnswer) {
    const Seen web = by_web_request("/cut");
    EXPECT_FALSE(web.complete);
    EXPECT_EQ(web.status, 0);
    EXPECT_EQ(web.body, std::string(100, 'x'));  // the prefix stays, as the fetch always gave it
    const Seen object = by_request_object("/cut");
    EXPECT_EQ(object.status, 0);
    EXPECT_EQ(object.body, "");
}

TEST_F(AnswerDetailsTest, CookieHeaderHoldsTheStoredCookiesAnAddressWouldCarry) {
    ASSERT_TRUE(add_cookie({"dom", "1", ".taobao.test", "/", false, false, std::nullopt}));
    ASSERT_TRUE(add_cookie({"host", "2", "rate.taobao.test", "/", false, false, std::nullopt}));
    ASSERT_TRUE(add_cookie({"safe", "3", ".taobao.test", "/", true, false, std::nullopt}));
    ASSERT_TRUE(add_cookie({"deep", "4", ".taobao.test", "/member", false, false, std::nullopt}));
    ASSERT_TRUE(add_cookie({"old", "5", ".taobao.test", "/", false, false, 1000}));
    ASSERT_TRUE(add_cookie({"other", "6", ".tmall.test", "/", false, false, std::nullopt}));
    const std::pair<const char*, const char*> cases[] = {
        {"http://rate.taobao.test/feedRateList.htm?x=1", "dom=1; host=2"},
        {"https://rate.taobao.test/", "dom=1; host=2; safe=3"},
        {"http://RATE.taobao.test:8080/member/info", "dom=1; host=2; deep=4"},
        {"http://rate.taobao.test/membership", "dom=1; host=2"},
        {"http://s.taobao.test/search", "dom=1"},
        {"http://taobao.test/", "dom=1"},
        {"http://nottaobao.test/", ""},
        {"http://rate.tmall.test/list_detail_rate.htm", "other=6"},
        {"rate.taobao.test/no-scheme", ""},
    };
    for (const auto& [url, header] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(cookie_header_for(url), header);
    }
}

TEST_F(AnswerDetailsTest, EveryChangeToTheStoreIsCounted) {
    const std::uint64_t before = cookie_changes();
    ASSERT_TRUE(add_cookie({"a", "1", ".taobao.test", "/", false, false, std::nullopt}));
    EXPECT_EQ(cookie_changes(), before + 1);
    EXPECT_FALSE(add_cookie({"", "1", "", "/", false, false, std::nullopt}));  // refused
    EXPECT_EQ(cookie_changes(), before + 1);
    ASSERT_TRUE(remove_cookie({"a", "1", ".taobao.test", "/", false, false, std::nullopt}));
    clear_cookies();
    EXPECT_EQ(cookie_changes(), before + 3);
    // A page's own cookies are not the user's doing.
    HttpResponse sets = HttpResponse::text("ok");
    sets.headers.emplace_back("Set-Cookie", "s=1; Path=/");
    server.set_route("/sets", sets);
    WebRequest(server.base_url() + "/sets");
    EXPECT_EQ(cookie_changes(), before + 3);
}

}  // namespace
