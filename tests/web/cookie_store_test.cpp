#include "web/cookie_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "web/curl_global.h"

namespace {

class CookieStoreTest : public testing::Test {
protected:
    void SetUp() override { clear_cookies(); }
    void TearDown() override { clear_cookies(); }
};

std::optional<Cookie> find(const std::string& name) {
    for (Cookie& c : list_cookies())
        if (c.name == name) return c;
    return std::nullopt;
}

TEST_F(CookieStoreTest, AddedCookiesKeepTheirAttributes) {
    const std::int64_t next_year = static_cast<std::int64_t>(std::time(nullptr)) + 365 * 86400;
    Cookie cases[] = {
        {.name = "host", .value = "1", .domain = "shop.example.com"},
        {.name = "wide", .value = "v=2;x", .domain = ".example.com", .path = "/a"},
        {.name = "sec", .value = "3", .domain = "example.com", .secure = true, .http_only = true},
        {.name = "kept", .value = "4", .domain = ".example.com", .expires = next_year},
        {.name = "empty", .value = "", .domain = "example.com"},
    };
    for (const Cookie& c : cases)
        ASSERT_TRUE(add_cookie(c)) << c.name;
    ASSERT_EQ(list_cookies().size(), std::size(cases));
    for (const Cookie& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<Cookie> got = find(c.name);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->value, c.value);
        EXPECT_EQ(got->domain, c.domain);
        EXPECT_EQ(got->include_subdomains(), c.include_subdomains());
        EXPECT_EQ(got->path, c.path);
        EXPECT_EQ(got->secure, c.secure);
        EXPECT_EQ(got->http_only, c.http_only);
        EXPECT_EQ(got->expires, c.expires);
    }
}

TEST_F(CookieStoreTest, DomainlessCookiesBelongToTheirHost) {
    struct Case {
        Cookie cookie;
        const char* fallback;
        bool stored;
        const char* domain;
    } cases[] = {
        {{.name = "a", .value = "1"}, "www.taobao.com", true, "www.taobao.com"},
        {{.name = "b", .value = "1", .domain = ".taobao.com"},
         "www.taobao.com",
         true,
         ".taobao.com"},
        {{.name = "c", .value = "1"}, "", false, ""},  // no host to hang it on: refused, not lost
        {{.name = "", .value = "1", .domain = "x.com"}, "", false, ""},
        {{.name = "t\tab", .value = "1", .domain = "x.com"}, "", false, ""},
        {{.name = "nl", .value = "1\n2", .domain = "x.com"}, "", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cookie.name);
        EXPECT_EQ(add_cookie(c.cookie, c.fallback), c.stored);
        std::optional<Cookie> got = find(c.cookie.name);
        EXPECT_EQ(got.has_value(), c.stored);
        if (got) {
            EXPECT_EQ(got->domain, c.domain);
        }
    }
}

TEST_F(CookieStoreTest, ReplaceRemoveAndExpire) {
    ASSERT_TRUE(add_cookie({.name = "s", .value = "old", .domain = "a.com"}));
    ASSERT_TRUE(add_cookie({.name = "s", .value = "new", .domain = "a.com"}));
    ASSERT_TRUE(add_cookie({.name = "s", .value = "other", .domain = "b.com"}));
    ASSERT_TRUE(add_cookie({.name = "s", .value = "path", .domain = "a.com", .path = "/p"}));
    EXPECT_EQ(list_cookies().size(), 3u);
    EXPECT_EQ(find("s").has_value(), true);

    ASSERT_TRUE(remove_cookie({.name = "s", .domain = "a.com"}));
    std::vector<Cookie> left = list_cookies();
    ASSERT_EQ(left.size(), 2u);
    for (const Cookie& c : left)
        EXPECT_NE(c.value, "new");

    ASSERT_TRUE(add_cookie({.name = "gone", .value = "1", .domain = "a.com", .expires = 1000}));
    EXPECT_FALSE(find("gone").has_value());
    clear_cookies();
    EXPECT_TRUE(list_cookies().empty());
}

TEST_F(CookieStoreTest, ConcurrentWritersLoseNothing) {
    constexpr int kThreads = 8, kEach = 40;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kEach; ++i)
                    add_cookie({.name = "c" + std::to_string(t) + "_" + std::to_string(i),
                                .value = std::to_string(i),
                                .domain = "h" + std::to_string(t) + ".test"});
            });
    }
    EXPECT_EQ(list_cookies().size(), static_cast<size_t>(kThreads * kEach));
}

// Runs in a fresh process so the shared store does not exist yet when the threads race for it.
TEST(SharedCurlStore, CreatedOnceUnderARace) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::vector<CURLSH*> seen(8, nullptr);
            {
                std::vector<std::jthread> threads;
                for (size_t i = 0; i < seen.size(); ++i)
                    threads.emplace_back([&seen, i] { seen[i] = shared_curl_store(); });
            }
            bool same = seen[0] != nullptr && std::all_of(seen.begin(), seen.end(),
                                                          [&](CURLSH* s) { return s == seen[0]; });
            std::exit(same ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
