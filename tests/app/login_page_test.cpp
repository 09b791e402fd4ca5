// The login page against a loopback site: the real browser view signs a cookie in, and the page
// fetches made afterwards carry it. Needs a display (the test command runs it under xvfb-run).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QNetworkCookie>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "app/cookie_bridge.h"
#include "app/login_page.h"
#include "app/startup.h"
#include "tests/support/http_server.h"
#include "web/cookie_store.h"
#include "web/host_settings.h"
#include "web/web_request.h"

namespace {

constexpr int kBrowserWaitMs = 30000;

QTemporaryDir* g_home = nullptr;  // stands in for the user's home while the browser runs

const Cookie* find_cookie(const std::vector<Cookie>& all, const std::string& name) {
    for (const Cookie& c : all)
        if (c.name == name) return &c;
    return nullptr;
}

// The Cookie header a page fetch of url sends, as the loopback server received it.
std::string cookie_header_sent(HttpServer& server, const std::string& url) {
    server.clear_requests();
    WebRequest(url);
    const auto requests = server.requests();
    return requests.empty() ? std::string("<no request>") : requests.back().header("Cookie");
}

std::string localhost_url(const HttpServer& server, const std::string& path) {
    return "http://localhost:" + std::to_string(server.port()) + path;
}

QNetworkCookie browser_cookie(const char* set_cookie, const char* domain) {
    const auto parsed = QNetworkCookie::parseCookies(QByteArray(set_cookie));
    QNetworkCookie c = parsed.isEmpty() ? QNetworkCookie() : parsed.first();
    c.setDomain(QString::fromUtf8(domain));
    return c;
}

// ---- the bridge on its own: what the browser hands over reaches the store intact ----

TEST(CookieBridge, KeepsEveryAttributeTheFetchesDependOn) {
    const std::int64_t in_2031 = 1924992000;  // Wed, 01 Jan 2031 00:00:00 GMT
    struct Case {
        const char* set_cookie;
        const char* domain;
        const char* fallback_host;
        const char* stored_domain;
        const char* path;
        bool secure, http_only;
        std::optional<std::int64_t> expires;
    } cases[] = {
        {"a=1; HttpOnly", "127.0.0.1", "", "127.0.0.1", "/", false, true, {}},
        {"b=2; secure; path=/shop", ".taobao.com", "", ".taobao.com", "/shop", true, false, {}},
        {"c=3; expires=Wed, 01 Jan 2031 00:00:00 GMT; path=/", "login.taobao.com", "",
         "login.taobao.com", "/", false, false, in_2031},
        // No domain from the browser: the host of the page shown is the cookie's host.
        {"d=4; path=/", "", "s.taobao.com", "s.taobao.com", "/", false, false, {}},
        {"e=5; secure; HttpOnly; expires=Wed, 01 Jan 2031 00:00:00 GMT; path=/m", ".tmall.com", "",
         ".tmall.com", "/m", true, true, in_2031},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.set_cookie);
        clear_cookies();
        const QString fallback = QString::fromUtf8(k.fallback_host);
        CookieBridge bridge(nullptr, [fallback] { return fallback; });
        QNetworkCookie cookie = browser_cookie(k.set_cookie, k.domain);
        ASSERT_TRUE(bridge.copy_added(cookie));
        const auto all = list_cookies();
        ASSERT_EQ(all.size(), 1u);
        const Cookie& got = all.front();
        EXPECT_EQ(got.name + "=" + got.value,
                  cookie.name().toStdString() + "=" + cookie.value().toStdString());
        EXPECT_EQ(got.domain, k.stored_domain);
        EXPECT_EQ(got.include_subdomains(), k.stored_domain[0] == '.');
        EXPECT_EQ(got.path, k.path);
        EXPECT_EQ(got.secure, k.secure);
        EXPECT_EQ(got.http_only, k.http_only);
        EXPECT_EQ(got.expires, k.expires);
        // Gone again when the browser drops it.
        EXPECT_TRUE(bridge.copy_removed(cookie));
        EXPECT_EQ(find_cookie(list_cookies(), cookie.name().toStdString()), nullptr);
    }
    clear_cookies();
}

TEST(CookieBridge, CopiedCookiesGoOnlyToTheirHostAndPath) {
    HttpServer server;
    ASSERT_TRUE(server.ok());
    const std::string ip = server.base_url();
    const std::string name = localhost_url(server, "");
    struct Case {
        QByteArray set_cookie;
        const char* domain;
        const char* fallback_host;
        std::string url;
        bool sent;
    } cases[] = {
        {"s=1; path=/", "127.0.0.1", "", ip + "/any", true},
        {"s=1; path=/", "127.0.0.1", "", name + "/any", false},
        {"s=1; path=/", "", "127.0.0.1", ip + "/any", true},
        {"s=1; path=/", "", "localhost", ip + "/any", false},
        {"s=1; path=/", "", "localhost", name + "/any", true},
        {"p=1; path=/shop", "127.0.0.1", "", ip + "/shop/item", true},
        {"p=1; path=/shop", "127.0.0.1", "", ip + "/other", false},
        {"k=1; path=/; expires=Wed, 01 Jan 2031 00:00:00 GMT", "127.0.0.1", "", ip + "/", true},
        {"x=old; path=/; expires=Thu, 01 Jan 2015 00:00:00 GMT", "127.0.0.1", "", ip + "/", false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.set_cookie.toStdString() + " domain '" + k.domain + "' to " + k.url);
        clear_cookies();
        const QString fallback = QString::fromUtf8(k.fallback_host);
        CookieBridge bridge(nullptr, [fallback] { return fallback; });
        const QNetworkCookie cookie = browser_cookie(k.set_cookie.constData(), k.domain);
        bridge.copy_added(cookie);
        const std::string pair = cookie.name().toStdString() + "=" + cookie.value().toStdString();
        const std::string header = cookie_header_sent(server, k.url);
        EXPECT_EQ(header.find(pair) != std::string::npos, k.sent) << "Cookie: " << header;
    }
    clear_cookies();
}

TEST(CookieBridge, AnOverwriteKeepsTheNewValueAndARemovalStopsTheCookie) {
    HttpServer server;
    ASSERT_TRUE(server.ok());
    clear_cookies();
    CookieBridge bridge(nullptr, [] { return QString(); });
    // The browser reports an overwrite as the old cookie removed, then the new one added.
    bridge.copy_added(browser_cookie("t=old; path=/", "127.0.0.1"));
    bridge.copy_removed(browser_cookie("t=old; path=/", "127.0.0.1"));
    bridge.copy_added(browser_cookie("t=new; path=/", "127.0.0.1"));
    EXPECT_EQ(cookie_header_sent(server, server.base_url() + "/"), "t=new");
    bridge.copy_removed(browser_cookie("t=new; path=/", "127.0.0.1"));
    EXPECT_EQ(cookie_header_sent(server, server.base_url() + "/"), "");
    // Nothing to go on: no domain and no page shown. Refused, and counted as such.
    EXPECT_FALSE(bridge.copy_added(browser_cookie("u=1; path=/", "")));
    EXPECT_EQ(bridge.copied(), 2);
    EXPECT_EQ(bridge.refused(), 1);
}

// ---- when the browser cannot run ----

TEST(LoginPage, WithoutTheBrowserProgramShowsWhyAndNoView) {
    const QByteArray saved = qgetenv("QTWEBENGINEPROCESS_PATH");
    qputenv("QTWEBENGINEPROCESS_PATH", QByteArray("/nonexistent/QtWebEngineProcess"));
    EXPECT_TRUE(find_browser_process().isEmpty());
    HostSettings settings;
    settings.login_start_url = "http://127.0.0.1:9/";
    std::unique_ptr<QWidget> page(create_login_page(nullptr, settings));
    if (saved.isEmpty())
        qunsetenv("QTWEBENGINEPROCESS_PATH");
    else
        qputenv("QTWEBENGINEPROCESS_PATH", saved);

    EXPECT_EQ(page->objectName(), QString::fromUtf8("超文本浏览框1"));
    EXPECT_EQ(page->findChild<QWebEngineView*>(), nullptr);
    auto* message = page->findChild<QLabel*>(QStringLiteral("login_message"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->text().startsWith(QString::fromUtf8("登录页面无法显示：")));
    EXPECT_TRUE(message->text().contains(QStringLiteral("QtWebEngineProcess")));
    EXPECT_FALSE(find_browser_process().isEmpty()) << "the installed browser program is found";
}

// ---- the real browser ----

class LoginBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.ok());
        clear_cookies();
        settings_.login_start_url = server_.base_url() + "/";
    }
    void TearDown() override { clear_cookies(); }

    QWebEngineView* open() {
        page_.reset(create_login_page(nullptr, settings_));
        page_->resize(493, 427);
        page_->show();
        return page_->findChild<QWebEngineView*>();
    }

    HttpServer server_;
    HostSettings settings_;
    std::unique_ptr<QWidget> page_;
};

TEST_F(LoginBrowser, CookiesFromTheSignInPageGoWithLaterFetches) {
    HttpResponse sign_in = HttpResponse::text(
        "<html><body>signed in<script>"
        "document.cookie = 'js=first; path=/';"
        "document.cookie = 'js=from-script; path=/';"
        "document.cookie = 'gone=; max-age=0; path=/';"
        "document.cookie = 'done=1; path=/';"
        "</script></body></html>");
    sign_in.headers.emplace_back("Set-Cookie", "srv=from-header; Path=/; HttpOnly");
    sign_in.headers.emplace_back("Set-Cookie", "gone=soon; Path=/");
    sign_in.headers.emplace_back("Set-Cookie", "kept=1; Max-Age=3600; Path=/");
    server_.set_route("/", sign_in);

    QWebEngineView* view = open();
    ASSERT_NE(view, nullptr) << "the browser did not start";
    EXPECT_EQ(page_->objectName(), QString::fromUtf8("超文本浏览框1"));
    ASSERT_TRUE(QTest::qWaitFor([] { return find_cookie(list_cookies(), "done") != nullptr; },
                                kBrowserWaitMs))
        << "the browser's cookies never reached the shared store";

    const auto all = list_cookies();
    const Cookie* srv = find_cookie(all, "srv");
    ASSERT_NE(srv, nullptr);
    EXPECT_EQ(srv->domain, "127.0.0.1");  // host-only, with its host
    EXPECT_TRUE(srv->http_only);
    EXPECT_FALSE(srv->expires.has_value());
    const Cookie* kept = find_cookie(all, "kept");
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->expires.has_value());
    EXPECT_EQ(find_cookie(all, "gone"), nullptr);

    const std::string sent = cookie_header_sent(server_, server_.base_url() + "/search?q=1");
    EXPECT_NE(sent.find("srv=from-header"), std::string::npos) << sent;
    EXPECT_NE(sent.find("js=from-script"), std::string::npos) << sent;
    EXPECT_NE(sent.find("kept=1"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("js=first"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("gone="), std::string::npos) << sent;
    EXPECT_EQ(cookie_header_sent(server_, localhost_url(server_, "/search?q=1")), "");
}

TEST_F(LoginBrowser, ADeadPageProcessIsReportedAndReloadBringsThePageBack) {
    server_.set_route("/", HttpResponse::text("<html><body>login</body></html>"));
    QWebEngineView* view = open();
    ASSERT_NE(view, nullptr) << "the browser did not start";
    bool loaded = false;
    QObject::connect(view, &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, kBrowserWaitMs));
    const qint64 pid = view->page()->renderProcessPid();
    ASSERT_GT(pid, 0);

    auto* message = page_->findChild<QLabel*>(QStringLiteral("login_message"));
    auto* reload = page_->findChild<QPushButton*>(QStringLiteral("login_reload"));
    ASSERT_NE(message, nullptr);
    ASSERT_NE(reload, nullptr);
    EXPECT_FALSE(message->isVisible());

    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return message->isVisible(); }, kBrowserWaitMs));
    EXPECT_TRUE(message->text().startsWith(QString::fromUtf8("登录页面无法显示：")));
    EXPECT_TRUE(reload->isVisible());
    EXPECT_FALSE(view->isVisible());

    server_.clear_requests();
    loaded = false;
    reload->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, kBrowserWaitMs));
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(message->isVisible());
    EXPECT_GE(server_.requests().size(), 1u);
}

// Last: after the browser ran, the stand-in home holds no browser profile data.
TEST(LoginBrowserIsolation, NothingOfTheBrowserIsStoredOnDisk) {
    ASSERT_NE(g_home, nullptr);
    QStringList stored;
    QDirIterator it(g_home->path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(QStringLiteral("QtWebEngine")) ||
            path.endsWith(QStringLiteral("Cookies")))
            stored << path;
    }
    EXPECT_TRUE(stored.isEmpty()) << stored.join(u'\n').toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "no display: run this test under xvfb-run -a\n");
        return 77;  // reported as skipped
    }
    // Keep the browser off the user's real data and off the network beyond loopback.
    QTemporaryDir home;
    g_home = &home;
    for (const char* var : {"HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
        qputenv(var, home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --disable-component-update");
    prepare_platform();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
