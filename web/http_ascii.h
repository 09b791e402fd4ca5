#pragma once
// ASCII-only helpers for HTTP protocol text (header names, methods, option words).
#include <string_view>

inline char http_ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline bool http_equals_no_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (http_ascii_lower(a[i]) != http_ascii_lower(b[i])) return false;
    return true;
}

// Without leading blanks and without trailing blanks and line ends.
inline std::string_view http_trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}
