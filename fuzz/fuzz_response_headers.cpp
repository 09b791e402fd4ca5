// Response headers and bodies as servers send them: cookies picked out of the
// header text, the body decoded by its declared character set. The first line
// of the input is the content type.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "web/http_response_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t line_end = input.find('\n');
    const std::string_view first =
        line_end == std::string_view::npos ? input : input.substr(0, line_end);
    const std::string_view rest =
        line_end == std::string_view::npos ? std::string_view() : input.substr(line_end + 1);

    const Text one = cookie_from_headers(rest, first.substr(0, 16));
    FUZZ_CHECK(one.size() <= rest.size());
    const Text all = cookies_from_headers(input);
    FUZZ_CHECK(all.find('\n') == Text::npos);

    const Bytes body(rest.begin(), rest.end());
    const Text text = decode_response_text(body, first);
    FUZZ_CHECK(text.find('\0') == Text::npos);
    FUZZ_CHECK(utf8_body_to_gbk(body).find('\0') == Text::npos);
    return 0;
}
