// URL splitting for the page fetch: a URL that splits gives a request URL that
// splits into the same pieces, within the length limits, and resolving dot
// segments twice changes nothing.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "web/web_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const std::string resolved = remove_dot_segments(url);
    FUZZ_CHECK(resolved.size() <= url.size());
    const std::optional<WebUrl> parts = split_web_url(url);
    if (!parts) return 0;
    FUZZ_CHECK(parts->scheme == "http" || parts->scheme == "https");
    FUZZ_CHECK(parts->port >= 1 && parts->port <= 65535);
    FUZZ_CHECK(parts->path_and_query.starts_with('/'));
    FUZZ_CHECK(parts->host.size() <= kMaxHostLength &&
               parts->path_and_query.size() <= kMaxPathAndQueryLength);
    const std::optional<WebUrl> again = split_web_url(parts->request_url());
    FUZZ_CHECK(again);
    FUZZ_CHECK(again->scheme == parts->scheme && again->host == parts->host &&
               again->port == parts->port && again->path_and_query == parts->path_and_query);
    return 0;
}
