#include "harvest/cut_between.h"

namespace {
// "#引号" in GBK.
constexpr std::string_view kQuoteWord = "#\xd2\xfd\xba\xc5";
}  // namespace

Text cut_between(std::string_view text, std::string_view start_marker,
                 std::string_view end_marker) {
    const Text start = text_replace(start_marker, kQuoteWord, "\"", 1, -1, true);
    const Text end = text_replace(end_marker, kQuoteWord, "\"", 1, -1, true);
    long long s = text_find(text, start);
    if (s == -1) return {};
    s += static_cast<long long>(start.size());
    const long long e = text_find(text, end, s);
    if (e == -1) return {};
    return text_mid(text, s, e - s);
}
