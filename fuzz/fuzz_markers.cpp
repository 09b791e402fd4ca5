// Fields cut out of pages between markers: whatever comes back is a piece of
// the page, and every piece of a repeated cut is too.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "harvest/cut_between.h"
#include "harvest/text_extract.h"

namespace {

bool inside(std::string_view text, const Text& piece) {
    return piece.empty() || text.find(piece) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Bytes 0 and 1: the lengths of the two markers, which come next; the page is
    // the rest.
    const std::size_t start_size = data[0] % 8;
    const std::size_t end_size = data[1] % 8;
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (input.size() < start_size + end_size) return 0;
    const std::string_view start = input.substr(0, start_size);
    const std::string_view end = input.substr(start_size, end_size);
    const std::string_view page = input.substr(start_size + end_size);

    FUZZ_CHECK(inside(page, extract_between(page, start, end)));
    FUZZ_CHECK(inside(page, extract_after(page, start)));
    ExtractOptions options;
    options.start = static_cast<long long>(data[0]) - 4;
    options.ignore_case = data[1] & 1;
    options.keep_markers = data[1] & 2;
    const Text cut = extract_between(page, start, end, options);
    if (!options.ignore_case) FUZZ_CHECK(inside(page, cut));
    for (const Text& piece : extract_all_between(page, start, end, page.substr(0, data[1] % 3)))
        FUZZ_CHECK(inside(page, piece));
    // The markers may spell a quote as "#引号": then the cut need not be in the
    // page as written.
    const Text between = cut_between(page, start, end);
    FUZZ_CHECK(between.size() <= page.size());
    (void)unique_texts(extract_all_between(page, start, end));
    return 0;
}
