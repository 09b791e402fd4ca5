// The request object keeps one connection for its requests: counted on the server's side, with a
// server that keeps connections, one that closes them, and one that closes without saying so.
// Every request on the kept handle must look as if it were the handle's first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/scoped_env.h"
#include "web/http_request_object.h"

namespace {

class KeepAliveTest : public testing::Test {
protected:
    Text url(const std::string& path) const { return server.base_url() + path; }

    // One request through Open and Send; the body as text, empty on failure.
    Text fetch(HttpRequestObject& o, const Text& method, const std::string& path,
               const Text* body = nullptr) {
        Text u = url(path);
        o.Open(method, u);
        if (body)
            o.Send(*body);
        else
            o.Send();
        return o.ResponseBodyText();
    }

    ScopedEnv no_http_proxy{"http_proxy", nullptr}, no_all_proxy{"all_proxy", nullptr},
        no_proxy_list{"no_proxy", nullptr};
    HttpServer server;
};

TEST_F(KeepAliveTest, ConnectionsCountedOnTheServer) {
    const struct {
        const char* name;
        bool keep_alive;
        int close_unannounced_at;  // request index whose answer closes silently; -1: none
        int objects;               // the requests spread over this many objects in turn
        size_t connections;
    } cases[] = {
        {"server keeps connections: one for all", true, -1, 1, 1},
        {"server closes after each answer", false, -1, 1, 6},
        {"server closes without saying so: one reconnect", true, 2, 1, 2},
        {"each object its own connection", true, -1, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.set_keep_alive(c.keep_alive);
        int served = 0;
        server.set_handler([&](const RecordedRequest& r) {
            HttpResponse answer = HttpResponse::text("page " + r.path());
            answer.close_unannounced = served++ == c.close_unannounced_at;
            return answer;
        });
        const size_t before = server.connections();
        std::vector<HttpRequestObject> objects(static_cast<size_t>(c.objects));
        for (int i = 0; i < 6; ++i) {
            HttpRequestObject& o = objects[static_cast<size_t>(i % c.objects)];
            const std::string path = "/p" + std::to_string(i);
            EXPECT_EQ(fetch(o, "GET", path), "page " + path) << o.LastError();
            EXPECT_EQ(o.Status(), 200);
        }
        EXPECT_EQ(server.connections() - before, c.connections);
    }
}

// A kept handle carries nothing over from the request before: method, body, credentials.
TEST_F(KeepAliveTest, EachRequestOnTheKeptHandleStandsAlone) {
    server.set_keep_alive(true);
    server.set_handler([](const RecordedRequest& r) {
        if (r.path() == "/8" && r.header("Authorization").empty()) {
            HttpResponse challenge = HttpResponse::text("who?", 401);
            challenge.headers.emplace_back("WWW-Authenticate", "Basic realm=\"z\"");
            return challenge;
        }
        return HttpResponse::text(r.method + " " + r.path() + " [" + r.body + "] " +
                                  r.header("Authorization"));
    });
    HttpRequestObject o;
    const Text form = "a=1";
    const size_t before = server.connections();
    EXPECT_EQ(fetch(o, "POST", "/1", &form), "POST /1 [a=1] ");
    EXPECT_EQ(fetch(o, "GET", "/2"), "GET /2 [] ");
    EXPECT_EQ(fetch(o, "PUT", "/3", &form), "PUT /3 [a=1] ");
    EXPECT_EQ(fetch(o, "GET", "/4"), "GET /4 [] ");
    fetch(o, "HEAD", "/5");
    EXPECT_EQ(o.Status(), 200);
    EXPECT_EQ(fetch(o, "GET", "/6"), "GET /6 [] ");
    EXPECT_EQ(fetch(o, "DELETE", "/7"), "DELETE /7 [] ");
    Text u = url("/8");
    o.Open("GET", u);
    o.SetCredentials("user", "pw");
    o.Send();
    EXPECT_EQ(o.ResponseBodyText(), "GET /8 [] Basic dXNlcjpwdw==");
    EXPECT_EQ(fetch(o, "GET", "/9"), "GET /9 [] ");
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 10u);  // /8 twice: the challenge, then the answer
    EXPECT_EQ(seen[1].header("Content-Type"), "");
    EXPECT_EQ(seen[1].header("Content-Length"), "");
    EXPECT_EQ(server.connections() - before, 1u);
}

// A transfer that fails part-way gives no response, and the next request still gets its own.
TEST_F(KeepAliveTest, AfterACutOffTransferTheNextRequestReconnects) {
    server.set_keep_alive(true);
    HttpResponse drop = HttpResponse::text("0123456789");
    drop.mode = HttpResponse::Mode::CloseMidBody;
    drop.close_after = 4;
    server.set_route("/drop", drop);
    server.set_route("/ok", HttpResponse::text("whole"));
    HttpRequestObject o;
    EXPECT_EQ(fetch(o, "GET", "/ok"), "whole");
    EXPECT_EQ(fetch(o, "GET", "/drop"), "");
    EXPECT_EQ(o.Status(), 0);
    EXPECT_FALSE(o.LastError().empty());
    EXPECT_EQ(fetch(o, "GET", "/ok"), "whole");
    EXPECT_EQ(o.Status(), 200);
}

}  // namespace
