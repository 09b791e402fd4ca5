#include "harvest/url_encode.h"

namespace {

bool copied_as_is(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

}  // namespace

Text url_encode(std::string_view gbk) {
    static constexpr char hex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(gbk.size() * 3);
    for (unsigned char c : gbk) {
        if (copied_as_is(c)) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}
