#include "harvest/unescape_text.h"

#include <cstring>

#include "runtime/gbk.h"

namespace {

// The GBK right single quotation mark that stands for an apostrophe inside the literal.
constexpr std::string_view kQuoteMark = "\xA1\xAF";
constexpr std::string_view kBreakMark = "{$}";

// wide: a byte buffer met a code unit above ASCII and the UTF-16 path has to take over.
enum class Outcome { ok, invalid, wide };

inline char32_t unit_of(char c) {
    return static_cast<unsigned char>(c);
}
inline char32_t unit_of(char16_t c) {
    return c;
}

inline int hex_value(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// Value of `count` hex digits at s[at], or -1 when they are not all there.
template <class C>
int hex_run(const C* s, size_t n, size_t at, size_t count) {
    if (at > n || n - at < count) return -1;
    int value = 0;
    for (size_t k = 0; k < count; ++k) {
        const int digit = hex_value(unit_of(s[at + k]));
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

inline bool is_line_terminator(char32_t c) {
    return c == 0x0A || c == 0x0D || c == 0x2028 || c == 0x2029;
}

// The engine's reading of a single-quoted literal body, with its compatibility extensions: octal
// escapes, "\v" as "v", a short "\x" or "\u" as the letter itself, and a backslash before a line
// break continuing the line. Writes at most n units to out, which may be body itself. A byte
// buffer holds ASCII only.
template <class C>
Outcome read_literal(const C* body, size_t n, C* out, size_t& written) {
    size_t w = 0;
    size_t i = 0;
    while (i < n) {
        const char32_t c = unit_of(body[i]);
        if (c != '\\') {
            if (is_line_terminator(c)) return Outcome::invalid;
            out[w++] = body[i++];
            continue;
        }
        if (i + 1 == n) return Outcome::invalid;  // it would escape the closing quote
        const char32_t d = unit_of(body[i + 1]);
        char32_t unit = d;
        size_t used = 2;
        switch (d) {
            case 'b':
                unit = 0x08;
                break;
            case 't':
                unit = 0x09;
                break;
            case 'n':
                unit = 0x0A;
                break;
            case 'f':
                unit = 0x0C;
                break;
            case 'r':
                unit = 0x0D;
                break;
            case 'x':
            case 'u': {
                const size_t digits = d == 'x' ? 2 : 4;
                const int value = hex_run(body, n, i + 2, digits);
                if (value >= 0) {
                    unit = static_cast<char32_t>(value);
                    used += digits;
                }
                break;
            }
            default:
                if (d >= '0' && d <= '7') {
                    unit = d - '0';
                    while (used < 4 && i + used < n) {
                        const char32_t e = unit_of(body[i + used]);
                        if (e < '0' || e > '7' || unit * 8 + (e - '0') > 255) break;
                        unit = unit * 8 + (e - '0');
                        ++used;
                    }
                } else if (is_line_terminator(d)) {
                    if (d == 0x0D && i + 2 < n && unit_of(body[i + 2]) == 0x0A) ++used;
                    i += used;
                    continue;
                }
                break;
        }
        if (sizeof(C) == 1 && unit > 0x7F) return Outcome::wide;
        out[w++] = static_cast<C>(unit);
        i += used;
    }
    written = w;
    return Outcome::ok;
}

// unescape() over n units into out (which may be s itself).
template <class C>
Outcome unescape_units(const C* s, size_t n, C* out, size_t& written) {
    size_t w = 0;
    size_t i = 0;
    while (i < n) {
        char32_t unit = unit_of(s[i]);
        size_t used = 1;
        if (unit == '%') {
            int value = -1;
            if (i + 1 < n && unit_of(s[i + 1]) == 'u') {
                value = hex_run(s, n, i + 2, 4);
                if (value >= 0) used = 6;
            }
            if (value < 0) {
                value = hex_run(s, n, i + 1, 2);
                if (value >= 0) used = 3;
            }
            if (value >= 0) unit = static_cast<char32_t>(value);
        }
        if (sizeof(C) == 1 && unit > 0x7F) return Outcome::wide;
        out[w++] = static_cast<C>(unit);
        i += used;
    }
    written = w;
    return Outcome::ok;
}

// What the engine hands back ends at its first NUL.
template <class S>
void cut_at_nul(S& s) {
    const auto nul = s.find(typename S::value_type{0});
    if (nul != S::npos) s.resize(nul);
}

// The preparation of the text before it goes into the literal, for pure ASCII: CR LF becomes
// "{$}", a leading lone CR goes, "\u" becomes "%u". (The apostrophe's detour through the
// quotation mark is an identity on this path.) False when a byte is not ASCII.
bool prepare_ascii(std::string_view in, char* out, size_t& written) {
    const size_t n = in.size();
    size_t w = 0;
    size_t i = (n > 0 && in[0] == '\r' && !(n > 1 && in[1] == '\n')) ? 1 : 0;
    for (; i < n; ++i) {
        const char c = in[i];
        if (static_cast<unsigned char>(c) >= 0x80) return false;
        if (i + 1 < n) {
            if (c == '\r' && in[i + 1] == '\n') {
                std::memcpy(out + w, kBreakMark.data(), 3);
                w += 3;
                ++i;
                continue;
            }
            if (c == '\\' && in[i + 1] == 'u') {
                out[w++] = '%';
                out[w++] = 'u';
                ++i;
                continue;
            }
        }
        out[w++] = c;
    }
    written = w;
    return true;
}

// Pure ASCII in and out needs no code page: the same steps on bytes, in one buffer. Sets
// `taken` false when a non-ASCII byte or code unit sends the text to the UTF-16 path.
Text decode_ascii(std::string_view in, bool& taken) {
    taken = false;
    Text buf(in.size() + in.size() / 2 + 1, '\0');
    size_t n = 0;
    if (!prepare_ascii(in, buf.data(), n)) return Text();
    const Outcome read = read_literal(buf.data(), n, buf.data(), n);
    if (read == Outcome::wide) return Text();
    taken = true;
    if (read == Outcome::invalid) return Text();
    if (unescape_units(buf.data(), n, buf.data(), n) == Outcome::wide) {
        taken = false;
        return Text();
    }
    buf.resize(n);
    cut_at_nul(buf);
    if (buf.find('{') == Text::npos) return buf;
    return text_replace(buf, kBreakMark, "\r\n", 1, -1, true);
}

}  // namespace

std::optional<std::u16string> decode_string_literal(std::u16string_view body) {
    std::u16string out(body.size(), u'\0');
    size_t n = 0;
    if (read_literal(body.data(), body.size(), out.data(), n) != Outcome::ok) return std::nullopt;
    out.resize(n);
    return out;
}

std::u16string script_unescape(std::u16string_view text) {
    std::u16string out(text.size(), u'\0');
    size_t n = 0;
    unescape_units(text.data(), text.size(), out.data(), n);
    out.resize(n);
    return out;
}

Text unescape_text_general(std::string_view gbk) {
    gbk = gbk.substr(0, gbk.find('\0'));
    Text t = text_replace(gbk, "\r\n", kBreakMark, 1, -1, true);
    if (!t.empty() && t.front() == '\r') t.erase(0, 1);
    if (text_find(t, "\\u") != -1) t = text_replace(t, "\\u", "%u", 1, -1, true);
    t = text_replace(t, "'", kQuoteMark, 1, -1, true);

    std::u16string units = gbk_to_utf16(t);
    size_t n = 0;
    if (read_literal(units.data(), units.size(), units.data(), n) != Outcome::ok) return Text();
    unescape_units(units.data(), n, units.data(), n);
    units.resize(n);
    cut_at_nul(units);

    Text u = utf16_to_gbk(units);
    u = text_replace(u, kQuoteMark, "'", 1, -1, true);
    return text_replace(u, kBreakMark, "\r\n", 1, -1, true);
}

Text unescape_text(std::string_view gbk) {
    gbk = gbk.substr(0, gbk.find('\0'));
    bool taken = false;
    Text fast = decode_ascii(gbk, taken);
    if (taken) return fast;
    return unescape_text_general(gbk);
}
