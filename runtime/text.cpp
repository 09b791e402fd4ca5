#include "runtime/text.h"

#include <algorithm>
#include <climits>

namespace {

using Size = std::string_view::size_type;

unsigned char byte_at(std::string_view text, Size i) {
    return static_cast<unsigned char>(text[i]);
}

// Offset of the character after the one at i; a lone lead byte at the end counts as one byte.
Size next_char(std::string_view text, Size i) {
    return (is_lead_byte(byte_at(text, i)) && i + 1 < text.size()) ? i + 2 : i + 1;
}

unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Compares sought with the bytes at text[at]. Folding touches ASCII letters only: a trail byte
// that happens to look like a letter must match exactly, or two different characters would pair.
bool equal_at(std::string_view text, Size at, std::string_view sought, bool ignore_case) {
    if (!ignore_case) return text.compare(at, sought.size(), sought) == 0;
    bool trail = false;
    for (Size i = 0; i < sought.size(); ++i) {
        unsigned char a = byte_at(text, at + i);
        unsigned char b = byte_at(sought, i);
        if (trail) {
            if (a != b) return false;
            trail = false;
            continue;
        }
        if (fold(a) != fold(b)) return false;
        trail = is_lead_byte(b);
    }
    return true;
}

// First character-aligned occurrence of sought in text[from, end), scanning from the character
// boundary `from`; end is the exclusive limit for the occurrence. Returns npos when none.
Size find_aligned(std::string_view text, std::string_view sought, Size from, Size end,
                  bool ignore_case) {
    if (sought.size() > end || from > end - sought.size()) return std::string_view::npos;
    const Size last = end - sought.size();  // last offset an occurrence may start at
    if (ignore_case && std::none_of(sought.begin(), sought.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        }))
        ignore_case = false;  // nothing to fold: the exact search is the same and much faster
    if (!ignore_case && !sought.empty()) {
        // Let the library find candidates, then keep only those on a character boundary.
        std::string_view region = text.substr(0, end);
        Size cursor = from;
        Size hit = region.find(sought, from);
        while (hit != std::string_view::npos) {
            while (cursor < hit)
                cursor = next_char(text, cursor);
            if (cursor == hit) return hit;
            hit = region.find(sought, hit + 1);
        }
        return std::string_view::npos;
    }
    if (sought.empty()) return from;
    // Folded search: a cheap first-byte test before the full comparison.
    const unsigned char first = fold(byte_at(sought, 0));
    for (Size i = from; i <= last;) {
        const unsigned char c = byte_at(text, i);
        if (fold(c) == first && equal_at(text, i, sought, ignore_case)) return i;
        i += (is_lead_byte(c) && i + 1 < text.size()) ? 2 : 1;
    }
    return std::string_view::npos;
}

int to_position(Size offset) {
    return offset >= static_cast<Size>(INT_MAX) ? INT_MAX : static_cast<int>(offset) + 1;
}

bool is_space_at(std::string_view text, Size i) {
    unsigned char c = byte_at(text, i);
    if (c == ' ') return true;
    return c == 0xA1 && i + 1 < text.size() && byte_at(text, i + 1) == 0xA1;
}

}  // namespace

int text_length(std::string_view text) {
    return text.size() > static_cast<Size>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
}

Text text_left(std::string_view text, long long n) {
    if (n <= 0) return {};
    return Text(text.substr(0, std::min<unsigned long long>(n, text.size())));
}

Text text_right(std::string_view text, long long n) {
    if (n <= 0) return {};
    Size take = std::min<unsigned long long>(n, text.size());
    return Text(text.substr(text.size() - take));
}

Text text_mid(std::string_view text, long long start, long long n) {
    if (start < 1 || n <= 0 || static_cast<unsigned long long>(start) > text.size()) return {};
    return Text(
        text.substr(static_cast<Size>(start - 1), std::min<unsigned long long>(n, text.size())));
}

int text_find(std::string_view text, std::string_view sought, long long start, bool ignore_case) {
    if (start < 1) start = 1;
    if (static_cast<unsigned long long>(start - 1) >= text.size()) return -1;
    Size from = static_cast<Size>(start - 1);
    Size hit = find_aligned(text, sought, from, text.size(), ignore_case);
    return hit == std::string_view::npos ? -1 : to_position(hit);
}

int text_find_last(std::string_view text, std::string_view sought, std::optional<long long> start,
                   bool ignore_case) {
    Size end = text.size();
    if (start) {
        if (*start <= 1) return -1;
        end = std::min<unsigned long long>(static_cast<unsigned long long>(*start - 1), end);
    }
    if (end == 0) return -1;
    if (sought.empty()) {
        // Every character start matches the empty text: the last one wins.
        Size last = 0;
        for (Size i = 0; i < end; i = next_char(text, i))
            last = i;
        return to_position(last);
    }
    Size found = std::string_view::npos;
    Size from = 0;
    while (true) {
        Size hit = find_aligned(text, sought, from, end, ignore_case);
        if (hit == std::string_view::npos) break;
        found = hit;
        from = next_char(text, hit);
    }
    return found == std::string_view::npos ? -1 : to_position(found);
}

bool text_begins_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

Text text_replace(std::string_view text, std::string_view sought, std::string_view replacement,
                  long long start, long long count, bool case_sensitive) {
    if (start < 1) start = 1;
    if (text.empty() || sought.empty() || count == 0 ||
        static_cast<unsigned long long>(start - 1) >= text.size())
        return Text(text);
    Size from = static_cast<Size>(start - 1);
    Text out;
    out.reserve(text.size());
    out.append(text.substr(0, from));
    Size i = from;
    while (count != 0) {
        Size hit = find_aligned(text, sought, i, text.size(), !case_sensitive);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(i, hit - i));
        out.append(replacement);
        i = hit + sought.size();
        if (count > 0) --count;
    }
    out.append(text.substr(i));
    return out;
}

std::vector<Text> text_split(std::string_view text, std::string_view delimiter,
                             long long max_parts) {
    std::vector<Text> parts;
    if (text.empty() || max_parts <= 0) return parts;
    if (delimiter.empty()) {
        parts.emplace_back(text);
        return parts;
    }
    Size i = 0;
    while (true) {
        Size hit = find_aligned(text, delimiter, i, text.size(), false);
        if (hit == std::string_view::npos) break;
        parts.emplace_back(text.substr(i, hit - i));
        i = hit + delimiter.size();
        if (static_cast<long long>(parts.size()) >= max_parts) return parts;
    }
    if (i < text.size()) parts.emplace_back(text.substr(i));
    return parts;
}

namespace {
Text change_case(std::string_view text, char from_a, char from_z, int shift) {
    Text out(text);
    for (Size i = 0; i < out.size(); i = next_char(out, i)) {
        if (out[i] >= from_a && out[i] <= from_z) out[i] = static_cast<char>(out[i] + shift);
    }
    return out;
}
}  // namespace

Text text_upper(std::string_view text) {
    return change_case(text, 'a', 'z', 'A' - 'a');
}

Text text_lower(std::string_view text) {
    return change_case(text, 'A', 'Z', 'a' - 'A');
}

Text text_trim_left(std::string_view text) {
    Size i = 0;
    while (i < text.size() && is_space_at(text, i))
        i = next_char(text, i);
    return Text(text.substr(i));
}

Text text_trim_right(std::string_view text) {
    // Walk forward so a trail byte 0xA1 is never mistaken for half of a full-width space.
    Size cut = text.size();
    bool in_run = false;
    for (Size i = 0; i < text.size(); i = next_char(text, i)) {
        if (is_space_at(text, i)) {
            if (!in_run) cut = i;
            in_run = true;
        } else {
            in_run = false;
        }
    }
    return Text(text.substr(0, in_run ? cut : text.size()));
}

Text text_trim(std::string_view text) {
    return text_trim_right(text_trim_left(text));
}

Text text_strip_spaces(std::string_view text) {
    Text out;
    out.reserve(text.size());
    for (Size i = 0; i < text.size();) {
        Size next = next_char(text, i);
        if (!is_space_at(text, i)) out.append(text.substr(i, next - i));
        i = next;
    }
    return out;
}

Text text_spaces(long long n) {
    // A text longer than its positions can count is refused rather than allocated.
    if (n < 1 || n > INT_MAX) return {};
    return Text(static_cast<Size>(n), ' ');
}

Text text_char(int code) {
    char c = static_cast<char>(static_cast<unsigned char>(code & 0xFF));
    if (c == '\0') return {};  // a text cannot hold a NUL
    return Text(1, c);
}
