#include "app/cookie_bridge.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>

Cookie cookie_from_browser(const QNetworkCookie& cookie) {
    Cookie out;
    out.name = cookie.name().toStdString();
    out.value = cookie.value().toStdString();
    out.domain = cookie.domain().toStdString();
    out.path = cookie.path().isEmpty() ? std::string("/") : cookie.path().toStdString();
    out.secure = cookie.isSecure();
    out.http_only = cookie.isHttpOnly();
    if (!cookie.isSessionCookie()) out.expires = cookie.expirationDate().toSecsSinceEpoch();
    return out;
}

CookieBridge::CookieBridge(QWebEngineCookieStore* browser_store,
                           std::function<QString()> fallback_host, QObject* parent)
    : QObject(parent), fallback_host_(std::move(fallback_host)) {
    if (!browser_store) return;
    // Both signals arrive on this thread in the order the browser made the changes; an overwrite
    // comes as a removal followed by an addition, so the order must be kept.
    connect(browser_store, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& c) { copy_added(c); });
    connect(browser_store, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie& c) { copy_removed(c); });
}

std::string CookieBridge::fallback() const {
    return fallback_host_ ? fallback_host_().toStdString() : std::string();
}

bool CookieBridge::copy_added(const QNetworkCookie& cookie) {
    const bool ok = add_cookie(cookie_from_browser(cookie), fallback());
    ok ? ++copied_ : ++refused_;
    return ok;
}

bool CookieBridge::copy_removed(const QNetworkCookie& cookie) {
    return remove_cookie(cookie_from_browser(cookie), fallback());
}
