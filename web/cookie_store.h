#pragma once
// The process's one cookie store, shared by every page fetch: a fetch sends the cookies held for
// its target and keeps those its responses set. The login page feeds the browser's cookies in here.
// Every operation is thread-safe.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Cookie {
    std::string name{}, value{};
    // ".example.com" (leading dot) also matches subdomains; "example.com" matches that host only.
    std::string domain{};
    std::string path = "/";
    bool secure = false;
    bool http_only = false;
    std::optional<std::int64_t> expires{};  // unix time; none = a session cookie

    bool include_subdomains() const { return domain.starts_with('.'); }
};

// Stores the cookie, replacing one of the same name, domain and path. A cookie without a domain is
// taken as a host-only cookie of fallback_host (the host it came from). False when it cannot be
// stored: no name, no domain and no fallback host, or a byte that would break the store's format.
bool add_cookie(const Cookie& cookie, std::string_view fallback_host = {});

// Removes the cookie of that name, domain and path (domain as stored, fallback as for add_cookie).
bool remove_cookie(const Cookie& cookie, std::string_view fallback_host = {});

// Every cookie held, in the store's order.
std::vector<Cookie> list_cookies();

// Forgets every cookie (a new sign-in, or a test starting clean).
void clear_cookies();

// Counts the changes made through add_cookie, remove_cookie and clear_cookies (the login
// browser's cookies arrive that way), so a waiting run can tell that the user did something.
std::uint64_t cookie_changes();

// The Cookie header value ("a=1; b=2") of the stored cookies that a request to url would carry:
// domain and path matched, secure ones only over https, expired ones left out. Empty when none.
std::string cookie_header_for(std::string_view url);
