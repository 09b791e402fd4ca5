#pragma once
// Values the request component and its callers exchange; no libcurl in sight, so callers outside
// web/ never see its headers.
#include <variant>

#include "runtime/text.h"

// The value of an option or of a stream property. Empty when there is none.
using HttpVariant = std::variant<std::monostate, bool, long long, Text, Bytes>;

// Outcome of one call: the value, or the error text of the failure (then value is empty).
template <class T>
struct HttpResult {
    T value{};
    Text error;
    bool ok() const { return error.empty(); }
};

// Time-outs in milliseconds; 0 or less means no limit.
struct HttpTimeouts {
    int resolve = 10000;
    int connect = 20000;
    int send = 30000;
    int receive = 60000;
};

// Option numbers the component understands (the platform's numbering).
enum HttpOption : int {
    kOptionUserAgent = 0,
    kOptionUrl = 1,
    kOptionUrlCodePage = 2,
    kOptionEscapePercentInUrl = 3,
    kOptionSslErrorIgnoreFlags = 4,
    kOptionEnableRedirects = 6,
    kOptionEnableHttpsToHttpRedirects = 12,
    kOptionMaxAutomaticRedirects = 14,
    kOptionEnableHttp11 = 17,
    kOptionLast = 18,
};

// Proxy settings of SetProxy: the system's (http_proxy and friends), none, or the given server.
enum HttpProxySetting : int { kProxySystem = 0, kProxyDirect = 1, kProxyNamed = 2 };
