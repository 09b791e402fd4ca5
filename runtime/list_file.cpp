#include "runtime/list_file.h"

#include <cstring>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kFieldSeparator = "----";

}  // namespace

std::string_view ListFileText::text() const {
    if (bytes.empty()) return {};  // an empty vector's data() may be null
    const char* data = reinterpret_cast<const char*>(bytes.data());
    const void* nul = std::memchr(data, 0, bytes.size());
    return {data, nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : bytes.size()};
}

void for_each_split_piece(std::string_view text, std::string_view delimiter,
                          const std::function<void(std::string_view piece)>& piece) {
    if (text.empty()) return;
    if (delimiter.empty()) {
        piece(text);
        return;
    }
    const char first = delimiter.front();
    size_t start = 0;
    size_t pos = 0;
    while (pos + delimiter.size() <= text.size()) {
        const char c = text[pos];
        if (c == first && text.compare(pos, delimiter.size(), delimiter) == 0) {
            piece(text.substr(start, pos - start));
            pos += delimiter.size();
            start = pos;
        } else {
            // A delimiter never starts on the trail byte of a two-byte character.
            pos += is_lead_byte(static_cast<unsigned char>(c)) ? 2 : 1;
        }
    }
    if (start < text.size()) piece(text.substr(start));
}

void for_each_list_line(std::string_view text,
                        const std::function<void(std::string_view line)>& line) {
    for_each_split_piece(text, kLineEnd, line);
}

void for_each_name_line(std::string_view text,
                        const std::function<void(int number, const Text& name)>& row) {
    int number = 0;
    for_each_list_line(text, [&](std::string_view line) {
        ++number;
        const std::vector<Text> fields = text_split(line, kFieldSeparator);
        if (!fields.empty()) row(number, fields.front());
    });
}

std::optional<std::size_t> first_invalid_gbk_line(std::string_view text) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') ++line;
        if (c < 0x80) continue;
        // 0x80 is the single-byte euro sign; 0xFF is never a character.
        if (c == 0x80) continue;
        if (c == 0xFF || i + 1 >= text.size()) return line;
        const auto trail = static_cast<unsigned char>(text[i + 1]);
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return line;
        ++i;
    }
    return std::nullopt;
}
