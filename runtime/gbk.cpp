#include "runtime/gbk.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <vector>

// The codec asks glibc's iconv once per process for every GBK character and keeps the answers in
// two tables; conversions are then plain lookups, safe on any thread and fast on page-sized texts.
// glibc's "GBK" is code page 936 (0x80 is the euro sign); the user-defined areas that code page 936
// maps to the private use area are taken from glibc's GB18030, which places them the same way.

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr int kTrailCount = 191;  // 0x40..0xFE, 0x7F included so the index stays simple

bool is_trail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

struct IconvHandle {
    iconv_t cd;
    IconvHandle(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (ok()) iconv_close(cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input to UTF-32LE code points; false when iconv refuses any of it.
    bool to_code_points(const char* in, std::size_t in_len, std::vector<char32_t>& out) {
        if (!ok()) return false;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char buffer[32];
        char* src = const_cast<char*>(in);
        char* dst = buffer;
        std::size_t dst_left = sizeof buffer;
        if (iconv(cd, &src, &in_len, &dst, &dst_left) == static_cast<std::size_t>(-1)) return false;
        out.clear();
        for (const char* p = buffer; p + 4 <= dst; p += 4) {
            const auto* u = reinterpret_cast<const unsigned char*>(p);
            out.push_back(static_cast<char32_t>(u[0] | u[1] << 8 | u[2] << 16 | u[3] << 24));
        }
        return true;
    }

    // Converts one code point to the target; the bytes, or empty when it cannot be held.
    std::string from_code_point(char32_t cp) {
        if (!ok()) return {};
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                      static_cast<char>((cp >> 16) & 0xFF), static_cast<char>((cp >> 24) & 0xFF)};
        char out[16];
        char* src = in;
        char* dst = out;
        std::size_t src_left = sizeof in;
        std::size_t dst_left = sizeof out;
        if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1)) return {};
        return std::string(out, dst);
    }
};

struct GbkTables {
    char32_t single_0x80 = 0;                                     // the one single-byte extra
    std::array<std::uint16_t, 126 * kTrailCount> pair_to_unit{};  // 0 = not a character
    std::array<std::uint16_t, 0x10000> unit_to_gbk{};  // 0 = not in GBK; < 0x100 = one byte

    GbkTables() {
        IconvHandle gbk("UTF-32LE", "GBK");
        IconvHandle gb18030("UTF-32LE", "GB18030");
        std::vector<char32_t> cps;
        char one[1] = {static_cast<char>(0x80)};
        if (gbk.to_code_points(one, 1, cps) && cps.size() == 1 && cps[0] <= 0xFFFF)
            single_0x80 = cps[0];

        std::array<std::uint8_t, 0x10000> users{};
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F) continue;
                char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                char32_t cp = 0;
                if (gbk.to_code_points(pair, 2, cps) && cps.size() == 1) {
                    cp = cps[0];
                } else if (gb18030.to_code_points(pair, 2, cps) && cps.size() == 1 &&
                           cps[0] >= 0xE000 && cps[0] <= 0xF8FF) {
                    cp = cps[0];
                }
                if (cp == 0 || cp > 0xFFFF) continue;
                pair_to_unit[(lead - 0x81) * kTrailCount + (trail - 0x40)] =
                    static_cast<std::uint16_t>(cp);
                if (users[cp] < 2) ++users[cp];
                if (unit_to_gbk[cp] == 0)
                    unit_to_gbk[cp] = static_cast<std::uint16_t>(lead << 8 | trail);
            }
        }
        if (single_0x80 != 0) {
            if (users[single_0x80] < 2) ++users[single_0x80];
            if (unit_to_gbk[single_0x80] == 0) unit_to_gbk[single_0x80] = 0x80;
        }
        // A character reachable from two byte sequences encodes the way iconv encodes it.
        IconvHandle back("GBK", "UTF-32LE");
        for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
            if (users[cp] < 2) continue;
            std::string bytes = back.from_code_point(cp);
            if (bytes.size() == 1) unit_to_gbk[cp] = static_cast<unsigned char>(bytes[0]);
            if (bytes.size() == 2)
                unit_to_gbk[cp] =
                    static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) << 8 |
                                               static_cast<unsigned char>(bytes[1]));
        }
    }
};

const GbkTables& tables() {
    static const GbkTables instance;
    return instance;
}

// Length of the pure-ASCII run at the start of text, sixteen or eight bytes at a time.
std::size_t ascii_run(const char* text, std::size_t size) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        if (_mm_movemask_epi8(block) != 0) break;
    }
#endif
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + i, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (i < size && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    return i;
}

// Lowers the ASCII capitals of a text in place; other bytes stay.
void lower_ascii(char* const data, const std::size_t size) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Signed bytes: everything from 0x80 on is negative, so never a capital.
    const __m128i before_a = _mm_set1_epi8('A' - 1);
    const __m128i after_z = _mm_set1_epi8('Z' + 1);
    const __m128i case_bit = _mm_set1_epi8(0x20);
    for (; i + 16 <= size; i += 16) {
        auto* const at = reinterpret_cast<__m128i*>(data + i);
        const __m128i block = _mm_loadu_si128(at);
        const __m128i capitals =
            _mm_and_si128(_mm_cmpgt_epi8(block, before_a), _mm_cmplt_epi8(block, after_z));
        _mm_storeu_si128(at, _mm_or_si128(block, _mm_and_si128(capitals, case_bit)));
    }
#endif
    for (; i < size; ++i) {
        const auto u = static_cast<unsigned char>(data[i]);
        if (u >= 'A' && u <= 'Z') data[i] = static_cast<char>(u + ('a' - 'A'));
    }
}

bool all_ascii(std::string_view text) {
    return ascii_run(text.data(), text.size()) == text.size();
}

// Decodes one GBK character at text[i]; returns its code point and sets `used` to the bytes taken.
// An invalid byte or a lone lead byte gives U+FFFD and takes only that byte, so a valid byte after
// it is never swallowed; an unknown pair of non-ASCII bytes is one bad character.
char32_t decode_at(const GbkTables& t, std::string_view text, std::size_t i, std::size_t& used) {
    const auto c = static_cast<unsigned char>(text[i]);
    used = 1;
    if (c < 0x80) return c;
    if (c == 0x80) return t.single_0x80 != 0 ? t.single_0x80 : kReplacement;
    if (c == 0xFF || i + 1 >= text.size()) return kReplacement;
    const auto trail = static_cast<unsigned char>(text[i + 1]);
    if (!is_trail(trail)) return kReplacement;
    const std::uint16_t unit = t.pair_to_unit[(c - 0x81) * kTrailCount + (trail - 0x40)];
    if (unit != 0) {
        used = 2;
        return unit;
    }
    if (trail >= 0x80) used = 2;
    return kReplacement;
}

void append_utf8(std::string& out, char32_t cp) {
    char bytes[4];
    std::size_t n = 0;
    if (cp < 0x80) {
        bytes[n++] = static_cast<char>(cp);
    } else if (cp < 0x800) {
        bytes[n++] = static_cast<char>(0xC0 | cp >> 6);
        bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes[n++] = static_cast<char>(0xE0 | cp >> 12);
        bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        bytes[n++] = static_cast<char>(0xF0 | cp >> 18);
        bytes[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    out.append(bytes, n);
}

void append_gbk(const GbkTables& t, Text& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
        return;
    }
    const std::uint16_t code = cp <= 0xFFFF ? t.unit_to_gbk[cp] : 0;
    if (code == 0) {
        out += '?';
    } else if (code < 0x100) {
        out += static_cast<char>(code);
    } else {
        out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
    }
}

// Reads one UTF-8 character; a malformed byte gives U+FFFD and takes that byte alone.
char32_t utf8_at(std::string_view s, std::size_t i, std::size_t& used) {
    const auto c = static_cast<unsigned char>(s[i]);
    used = 1;
    if (c < 0x80) return c;
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        return kReplacement;
    }
    if (i + extra >= s.size()) return kReplacement;
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return kReplacement;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    used = 1 + extra;
    return cp;
}

}  // namespace

std::string gbk_to_utf8(std::string_view gbk) {
    return gbk_to_utf8(gbk, nullptr);
}

std::string gbk_to_utf8(std::string_view gbk, std::vector<GbkUtf8Anchor>* anchors) {
    std::string out;
    gbk_to_utf8(gbk, out, anchors);
    return out;
}

void gbk_to_utf8(std::string_view gbk, std::string& out, std::vector<GbkUtf8Anchor>* anchors,
                 bool lower_letters) {
    if (anchors) anchors->clear();
    out.clear();
    if (all_ascii(gbk)) {
        out.assign(gbk);
        if (lower_letters) lower_ascii(out.data(), out.size());
        return;
    }
    const GbkTables& t = tables();
    out.reserve(gbk.size() + gbk.size() / 2);
    for (std::size_t i = 0; i < gbk.size();) {
        const std::size_t run = ascii_run(gbk.data() + i, gbk.size() - i);
        out.append(gbk.data() + i, run);
        if (lower_letters) lower_ascii(out.data() + out.size() - run, run);
        i += run;
        if (i >= gbk.size()) break;
        std::size_t used = 0;
        append_utf8(out, decode_at(t, gbk, i, used));
        i += used;
        if (anchors)
            anchors->push_back(
                {static_cast<std::uint32_t>(out.size()), static_cast<std::uint32_t>(i)});
    }
}

std::u16string gbk_to_utf16(std::string_view gbk) {
    std::u16string out;
    out.reserve(gbk.size());
    if (all_ascii(gbk)) {
        for (unsigned char c : gbk)
            out += static_cast<char16_t>(c);
        return out;
    }
    const GbkTables& t = tables();
    for (std::size_t i = 0; i < gbk.size();) {
        std::size_t used = 0;
        out += static_cast<char16_t>(decode_at(t, gbk, i, used));
        i += used;
    }
    return out;
}

Text utf8_to_gbk(std::string_view utf8) {
    if (all_ascii(utf8)) return Text(utf8);
    const GbkTables& t = tables();
    Text out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t run = ascii_run(utf8.data() + i, utf8.size() - i);
        out.append(utf8.data() + i, run);
        i += run;
        if (i >= utf8.size()) break;
        std::size_t used = 0;
        append_gbk(t, out, utf8_at(utf8, i, used));
        i += used;
    }
    return out;
}

Text utf16_to_gbk(std::u16string_view utf16) {
    const GbkTables& t = tables();
    Text out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char32_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            ++i;  // a character beyond the basic plane: GBK cannot hold it
            out += '?';
        } else {
            append_gbk(t, out, unit);
        }
    }
    return out;
}

std::size_t gbk_offset_for_utf8(const std::vector<GbkUtf8Anchor>& anchors,
                                std::size_t utf8_offset) {
    // The last anchor at or before the offset; ASCII after it maps one to one.
    std::size_t lo = 0, hi = anchors.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (anchors[mid].utf8_end <= utf8_offset)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0) return utf8_offset;
    const GbkUtf8Anchor& a = anchors[lo - 1];
    return a.gbk_end + (utf8_offset - a.utf8_end);
}
