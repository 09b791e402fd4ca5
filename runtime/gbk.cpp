#include "runtime/gbk.h"

#include <array>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vector>

#include "runtime/gbk_table.h"

// The codec unfolds the generated code page 936 data once per process into two tables; conversions
// are then plain lookups, safe on any thread and fast on page-sized texts.

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_trail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

struct GbkTables {
    char32_t single_0x80 = kGbkSingle0x80;
    std::array<std::uint16_t, kGbkPairCells> pair_to_unit{};  // 0 = not a character
    std::array<std::uint16_t, 0x10000> unit_to_gbk{};         // 0 = not in GBK; < 0x100 = one byte

    GbkTables() {
        std::size_t cell = 0;
        for (std::size_t i = 0; i < kGbkCellCount && cell < kGbkPairCells; ++i) {
            if (kGbkCells[i] != kGbkRun) {
                pair_to_unit[cell++] = kGbkCells[i];
                continue;
            }
            if (i + 2 >= kGbkCellCount) break;
            const std::size_t count = kGbkCells[i + 1];
            const std::uint16_t first = kGbkCells[i + 2];
            i += 2;
            for (std::size_t k = 0; k < count && cell < kGbkPairCells; ++k)
                pair_to_unit[cell++] = static_cast<std::uint16_t>(first + k);
        }
        // Each character has one byte sequence (the generator makes sure of it).
        for (std::size_t c = 0; c < kGbkPairCells; ++c) {
            const std::uint16_t unit = pair_to_unit[c];
            if (unit == 0) continue;
            const std::size_t lead = 0x81 + c / kGbkTrailCount;
            const std::size_t trail = 0x40 + c % kGbkTrailCount;
            unit_to_gbk[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
        }
        if (single_0x80 != 0) unit_to_gbk[single_0x80] = 0x80;
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
    const std::uint16_t unit = t.pair_to_unit[(c - 0x81) * kGbkTrailCount + (trail - 0x40)];
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

// Writes cp's GBK bytes at dst ("?" when GBK cannot hold it); returns the end of what it wrote.
char* put_gbk(const GbkTables& t, char* dst, char32_t cp) {
    if (cp < 0x80) {
        *dst++ = static_cast<char>(cp);
        return dst;
    }
    const std::uint16_t code = cp <= 0xFFFF ? t.unit_to_gbk[cp] : 0;
    if (code == 0) {
        *dst++ = '?';
    } else if (code < 0x100) {
        *dst++ = static_cast<char>(code);
    } else {
        *dst++ = static_cast<char>(code >> 8);
        *dst++ = static_cast<char>(code & 0xFF);
    }
    return dst;
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

bool all_ascii(std::string_view text) {
    return ascii_run(text.data(), text.size()) == text.size();
}

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
    // Every byte gives at most one unit: write into the full size, cut to what was written.
    std::u16string out(gbk.size(), u'\0');
    char16_t* dst = out.data();
    const GbkTables* t = nullptr;
    for (std::size_t i = 0; i < gbk.size();) {
        const std::size_t run = ascii_run(gbk.data() + i, gbk.size() - i);
        for (std::size_t k = 0; k < run; ++k)
            *dst++ = static_cast<unsigned char>(gbk[i + k]);
        i += run;
        if (i >= gbk.size()) break;
        if (!t) t = &tables();
        std::size_t used = 0;
        *dst++ = static_cast<char16_t>(decode_at(*t, gbk, i, used));
        i += used;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

Text utf8_to_gbk(std::string_view utf8) {
    if (all_ascii(utf8)) return Text(utf8);
    const GbkTables& t = tables();
    // A non-ASCII character takes at least two UTF-8 bytes and gives at most two GBK bytes.
    Text out(utf8.size(), '\0');
    char* dst = out.data();
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t run = ascii_run(utf8.data() + i, utf8.size() - i);
        std::memcpy(dst, utf8.data() + i, run);
        dst += run;
        i += run;
        if (i >= utf8.size()) break;
        std::size_t used = 0;
        dst = put_gbk(t, dst, utf8_at(utf8, i, used));
        i += used;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

Text utf16_to_gbk(std::u16string_view utf16) {
    // Every unit gives at most two bytes: write into the full size, cut to what was written.
    Text out(utf16.size() * 2, '\0');
    char* dst = out.data();
    const GbkTables* t = nullptr;
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char32_t unit = utf16[i];
        if (unit < 0x80) {
            *dst++ = static_cast<char>(unit);
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            ++i;  // a character beyond the basic plane: GBK cannot hold it
            *dst++ = '?';
            continue;
        }
        if (!t) t = &tables();
        dst = put_gbk(*t, dst, unit);
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
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
