// The GBK codec: every character decoded from page bytes encodes back to bytes
// that decode to the same character, so after one pass the round trip is exact;
// the anchored decoding agrees with the plain one, and UTF-16 agrees with
// UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "runtime/gbk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view gbk(reinterpret_cast<const char*>(data), size);
    const std::string utf8 = gbk_to_utf8(gbk);
    std::vector<GbkUtf8Anchor> anchors;
    FUZZ_CHECK(gbk_to_utf8(gbk, &anchors) == utf8);
    for (const GbkUtf8Anchor& a : anchors)
        FUZZ_CHECK(a.utf8_end <= utf8.size() && a.gbk_end <= gbk.size());
    FUZZ_CHECK(utf16_to_gbk(gbk_to_utf16(gbk)) == utf8_to_gbk(utf8));

    // Valid input only: a replacement character marks bytes that were no GBK.
    if (utf8.find("\xEF\xBF\xBD") != std::string::npos) return 0;
    const Text again = utf8_to_gbk(utf8);
    FUZZ_CHECK(gbk_to_utf8(again) == utf8);
    FUZZ_CHECK(utf8_to_gbk(gbk_to_utf8(again)) == again);
    return 0;
}
