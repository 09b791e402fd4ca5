#include "store/json_string.h"

#include <array>
#include <cstdio>

namespace {

// Looked up rather than compared: a harvest writes every buyer ID through here.
constexpr std::array<bool, 256> kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (int c = 0; c < 0x20; ++c)
        escaped[c] = true;
    escaped['"'] = escaped['\\'] = true;
    return escaped;
}();

bool escaped(char c) {
    return kEscaped[static_cast<unsigned char>(c)];
}

}  // namespace

void json_string(std::string& out, std::string_view utf8) {
    out += '"';
    // Texts between the characters that need escaping go in whole: most IDs have none.
    size_t from = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (!escaped(c)) continue;
        out.append(utf8, from, i - from);
        from = i + 1;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
            out += code;
        }
    }
    out.append(utf8, from);
    out += '"';
}
