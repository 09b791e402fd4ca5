// cookies.txt as a user hands it over: whatever parses writes back to a text that parses to the
// same cookies, and a refusal always says which line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "fuzz/fuzz_check.h"
#include "web/cookies_file.h"

namespace {

auto fields(const Cookie& c) {
    return std::tie(c.name, c.value, c.domain, c.path, c.secure, c.http_only, c.expires);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto cookies = parse_cookies_txt(text, error);
    if (!cookies) {
        FUZZ_CHECK(error.starts_with("line "));
        return 0;
    }
    std::string again_error;
    const auto again = parse_cookies_txt(cookies_txt(*cookies), again_error);
    FUZZ_CHECK(again && again->size() == cookies->size());
    for (std::size_t i = 0; i < cookies->size(); ++i)
        FUZZ_CHECK(fields((*again)[i]) == fields((*cookies)[i]));
    return 0;
}
