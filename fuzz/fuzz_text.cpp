// The text primitives over GBK bytes from pages: positions stay inside the
// text, what is found is there, cuts are pieces of the text, case changes keep
// the length.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "runtime/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    // Byte 0: length of the sought text; byte 1: a count or position; the rest:
    // sought, text.
    const std::size_t sought_size = data[0] % 8;
    const long long n = static_cast<long long>(data[1]) - 16;
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (input.size() < sought_size) return 0;
    const std::string_view sought = input.substr(0, sought_size);
    const std::string_view text = input.substr(sought_size);

    for (bool ignore_case : {false, true}) {
        const int found = text_find(text, sought, n, ignore_case);
        FUZZ_CHECK(found == -1 || (found >= 1 && static_cast<std::size_t>(found) <= text.size()));
        if (found > 0 && !ignore_case && !sought.empty())
            FUZZ_CHECK(text.substr(static_cast<std::size_t>(found) - 1, sought.size()) == sought);
        const int last = text_find_last(text, sought, std::nullopt, ignore_case);
        FUZZ_CHECK(last == -1 || (last >= 1 && static_cast<std::size_t>(last) <= text.size()));
    }
    FUZZ_CHECK(text_begins_with(text, sought) == text.starts_with(sought));

    const Text left = text_left(text, n);
    FUZZ_CHECK(text.starts_with(left));
    const Text right = text_right(text, n);
    FUZZ_CHECK(text.ends_with(right));
    const Text mid = text_mid(text, n, data[0]);
    FUZZ_CHECK(mid.empty() || text.find(mid) != std::string_view::npos);
    FUZZ_CHECK(text_upper(text).size() == text.size());
    FUZZ_CHECK(text_lower(text).size() == text.size());
    for (const Text& trimmed : {text_trim_left(text), text_trim_right(text), text_trim(text)})
        FUZZ_CHECK(trimmed.empty() || text.find(trimmed) != std::string_view::npos);
    FUZZ_CHECK(text_length(text) >= 0);

    const std::vector<Text> parts = text_split(text, sought.empty() ? "," : sought);
    std::size_t total = 0;
    for (const Text& part : parts)
        total += part.size();
    FUZZ_CHECK(total <= text.size());
    (void)text_replace(text, sought, "#", n, data[0] % 4 - 1, data[0] & 1);
    (void)text_strip_spaces(text);
    return 0;
}
