#include "harvest/address_normalise.h"

namespace {

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// A scheme is a letter followed by letters, digits, "+", "-" or "." and then "://".
bool has_scheme(std::string_view address) {
    const size_t colon = address.find("://");
    if (colon == std::string_view::npos || colon == 0 || !is_letter(address[0])) return false;
    for (size_t i = 1; i < colon; ++i) {
        const char c = address[i];
        if (!is_letter(c) && !is_digit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

}  // namespace

Text normalise_address(std::string_view address) {
    if (address.empty() || has_scheme(address)) return Text(address);
    if (address.starts_with("//")) return "http:" + Text(address);
    if (address.starts_with("/")) return Text(address);  // a path alone names no host
    return "http://" + Text(address);
}
