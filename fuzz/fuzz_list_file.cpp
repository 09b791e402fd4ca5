// List files as users import them: the file's text ends at its first NUL, the
// streaming split gives exactly the pieces text_split gives, and the line and
// name readers see every line once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "runtime/list_file.h"
#include "runtime/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // Byte 0 picks the delimiter: the line end, the field separator, or bytes of
    // the input.
    const ListFileText file{Bytes(data + 1, data + size)};
    const std::string_view input = file.text();
    FUZZ_CHECK(input.size() <= size - 1 && input.find('\0') == std::string_view::npos);
    std::string_view delimiter = data[0] < 0x80 ? "\r\n" : data[0] < 0xC0 ? "----" : "";
    std::string_view text = input;
    if (data[0] >= 0xC0) {
        const std::size_t n = std::min<std::size_t>(data[0] % 4, input.size());
        delimiter = input.substr(0, n);
        text = input.substr(n);
    }
    std::vector<Text> pieces;
    for_each_split_piece(text, delimiter,
                         [&](std::string_view piece) { pieces.emplace_back(piece); });
    FUZZ_CHECK(pieces == text_split(text, delimiter));

    std::size_t lines = 0;
    for_each_list_line(input, [&](std::string_view line) {
        FUZZ_CHECK(line.size() <= input.size());
        ++lines;
    });
    int last = 0;
    for_each_name_line(input, [&](int number, const Text& name) {
        FUZZ_CHECK(number > last && static_cast<std::size_t>(number) <= lines);
        FUZZ_CHECK(name.size() <= input.size());
        last = number;
    });
    return 0;
}
