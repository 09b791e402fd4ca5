// Escaped texts from search pages: the quick path for plain ASCII and the
// general path through UTF-16 must give the same text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "harvest/unescape_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(unescape_text(text) == unescape_text_general(text));
    return 0;
}
