#include "harvest/text_extract.h"

#include <chrono>
#include <string>
#include <unordered_set>

#include "runtime/convert.h"
#include "runtime/services.h"

namespace {
long long length_of(std::string_view text) {
    return static_cast<long long>(text.size());
}
}  // namespace

Text extract_between(std::string_view text, std::string_view start, std::string_view end,
                     const ExtractOptions& options) {
    const Text none = options.whole_if_none ? Text(text) : Text();
    const int p = text_find(text, start, options.start, options.ignore_case);
    if (p < 1) return none;
    const long long from = p + length_of(start);
    const int q = text_find(text, end, from, options.ignore_case);
    if (q <= p) return none;
    if (options.keep_markers) return text_mid(text, p, q - p + length_of(end));
    return text_mid(text, from, q - from);
}

Text extract_after(std::string_view text, std::string_view marker) {
    const int p = text_find_last(text, marker);
    if (p == -1) return {};
    return text_right(text, length_of(text) - length_of(marker) - p + 1);
}

std::vector<Text> extract_all_between(std::string_view text, std::string_view start,
                                      std::string_view end, std::string_view filter) {
    std::vector<Text> pieces;
    long long position = 1;
    while (true) {
        const int p = text_find(text, start, position);
        if (p < 1) break;
        const long long from = p + length_of(start);
        const int q = text_find(text, end, from);
        if (q < 1) break;
        Text piece = text_mid(text, from, q - from);
        const bool skipped = !filter.empty() && text_find(piece, filter) != -1;
        const long long next = skipped ? from : q + length_of(end);
        if (next <= p) break;  // empty markers would find the same place for ever
        if (!skipped) pieces.push_back(std::move(piece));
        position = next;
    }
    return pieces;
}

std::vector<Text> unique_texts(const std::vector<Text>& texts) {
    std::vector<Text> out;
    std::unordered_set<std::string_view> seen;
    seen.reserve(texts.size());
    for (const Text& t : texts)
        if (seen.insert(t).second) out.push_back(t);
    return out;
}

Text js_time_ms() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return to_text(
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

Text random_digits(int n) {
    random_seed();
    Text digits;
    for (int i = 0; i < n; ++i)
        digits += text_char(random_int(48, 57));
    return digits;
}
