#pragma once
// One page fetched with an HTTP/1.0 GET: the body bytes, or a prefix of them when the transfer
// broke off, or nothing when the request could not be made or the body is over the size cap.
// Cookies come from and go to the process's shared cookie store; the system proxy applies; the
// status code is never looked at.
#include <optional>
#include <string>
#include <string_view>

#include "runtime/text.h"

// A URL taken apart the way the fetch sends it: fragment cut, dot segments resolved, nothing
// percent-escaped.
struct WebUrl {
    std::string scheme;  // "http" or "https", lower case
    std::string host;
    int port = 0;                // the URL's own, else 80 / 443
    std::string path_and_query;  // starts with "/"
    std::string user, password;
    std::string request_url() const;  // what is handed to curl: scheme://host:port/path?query
};

// Longest pieces a URL may have; a longer one makes the URL unusable.
inline constexpr size_t kMaxHostLength = 256;
inline constexpr size_t kMaxPathAndQueryLength = 2048;
inline constexpr size_t kMaxUserLength = 128;
inline constexpr size_t kMaxPasswordLength = 128;

// Splits a URL for fetching; nullopt for an empty URL, a scheme other than http/https, a missing
// or bad host or port, or a piece over its limit.
std::optional<WebUrl> split_web_url(std::string_view url);

// Resolves "." and ".." segments of a path (not the query); nothing is escaped or unescaped.
std::string remove_dot_segments(std::string_view path);

inline constexpr const char* kWebRequestAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

Bytes WebRequest(std::string_view url);

// The same fetch, with what a caller needs to tell a page from a refusal: the final response's
// status (0 when none arrived), the address the fetch ended at after following redirects (set
// also when following one failed, e.g. to an unreachable security page), and whether the
// transfer ran to its end.
struct WebAnswer {
    Bytes body;
    int status = 0;
    std::string reached_url;
    bool complete = false;
};
WebAnswer WebRequestAnswer(std::string_view url);
