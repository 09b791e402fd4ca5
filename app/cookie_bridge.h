#pragma once
// Copies the login browser's cookies one way into the shared cookie store that every page fetch
// uses, so a fetch made after the user signed in carries the session.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "web/cookie_store.h"

class QNetworkCookie;
class QWebEngineCookieStore;

// The browser's cookie in the store's terms. Chromium gives a host-only cookie its host without a
// leading dot and a domain cookie its domain with one, which is what the store expects too.
Cookie cookie_from_browser(const QNetworkCookie& cookie);

class CookieBridge : public QObject {
    Q_OBJECT
public:
    // fallback_host names the host of the page shown, for a cookie that arrives without a domain
    // (the browser's signal carries no origin).
    CookieBridge(QWebEngineCookieStore* browser_store, std::function<QString()> fallback_host,
                 QObject* parent = nullptr);

    // What the browser's cookieAdded / cookieRemoved do; false when the store refused the cookie.
    bool copy_added(const QNetworkCookie& cookie);
    bool copy_removed(const QNetworkCookie& cookie);

    int copied() const { return copied_; }
    int refused() const { return refused_; }

private:
    std::string fallback() const;

    std::function<QString()> fallback_host_;
    int copied_ = 0;
    int refused_ = 0;
};
