// The generated code page 936 table against glibc's iconv, code by code. The rules: iconv's "GBK"
// decides every pair it accepts and the single byte 0x80; a pair it refuses that glibc's GB18030
// places in the private use area (the user-defined areas) maps there; any other pair is invalid.
#include <gtest/gtest.h>

#include <string>

#include "runtime/gbk.h"

#if __has_include(<iconv.h>)
#include <iconv.h>

namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted; false when iconv refuses any of it.
    bool convert(const std::string& in, std::string& out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string buffer(in.size() * 4 + 16, '\0');
        std::string source = in;
        char* src = source.data();
        char* dst = buffer.data();
        std::size_t src_left = source.size();
        std::size_t dst_left = buffer.size();
        const bool ok =
            iconv(cd_, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1);
        out.assign(buffer.data(), dst);
        return ok && src_left == 0;
    }

private:
    iconv_t cd_;
};

bool iconv_convert(const char* to, const char* from, const std::string& in, std::string& out) {
    Iconv cd(to, from);
    return cd.ok() && cd.convert(in, out);
}

std::string utf8_of(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

bool in_private_use_area(const std::string& utf8) {
    return utf8.size() == 3 && utf8 >= "\xEE\x80\x80" && utf8 <= "\xEF\xA3\xBF";  // U+E000..F8FF
}

const std::string kBad = "\xEF\xBF\xBD";

TEST(GbkTable, EveryPairDecodesAsIconvDecodesIt) {
    Iconv gbk("UTF-8", "GBK");
    Iconv gb18030("UTF-8", "GB18030");
    ASSERT_TRUE(gbk.ok() && gb18030.ok());
    int grid = 0, outside = 0, characters = 0, user_defined = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x00; trail <= 0xFF; ++trail) {
            const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            const bool in_grid = trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
            ++(in_grid ? grid : outside);
            std::string expected;
            if (gbk.convert(pair, expected) && !expected.empty() && expected.size() <= 3) {
                ASSERT_TRUE(in_grid) << std::hex << lead << " " << trail;
                ++characters;
            } else if (gb18030.convert(pair, expected) && in_private_use_area(expected)) {
                ++user_defined;
            } else if (in_grid && trail >= 0x80) {
                expected = kBad;  // a pair of non-ASCII bytes that is no character
            } else {
                // The lead byte alone is bad; the byte after it is read on its own.
                expected = kBad + (trail < 0x80    ? std::string(1, static_cast<char>(trail))
                                   : trail == 0x80 ? std::string("\xE2\x82\xAC")
                                                   : kBad);
            }
            const std::string got = gbk_to_utf8(pair);
            ASSERT_EQ(got, expected) << std::hex << lead << " " << trail;
            std::string wide;
            ASSERT_TRUE(iconv_convert("UTF-16LE", "UTF-8", got, wide) || got.empty());
            std::u16string expected_wide;
            for (std::size_t k = 0; k + 1 < wide.size(); k += 2)
                expected_wide +=
                    static_cast<char16_t>(static_cast<unsigned char>(wide[k]) |
                                          static_cast<unsigned char>(wide[k + 1]) << 8);
            ASSERT_EQ(gbk_to_utf16(pair), expected_wide) << std::hex << lead << " " << trail;
        }
    }
    EXPECT_EQ(grid, 23940);
    EXPECT_EQ(outside, 126 * 256 - 23940);
    EXPECT_EQ(characters, 21791);   // glibc's two-byte characters
    EXPECT_EQ(user_defined, 2043);  // the user-defined areas
    std::string euro;
    ASSERT_TRUE(gbk.convert("\x80", euro));
    EXPECT_EQ(gbk_to_utf8("\x80"), euro);
}

TEST(GbkTable, EveryBasicPlaneCharacterEncodesAsIconvEncodesIt) {
    Iconv to_gbk("GBK", "UTF-8");
    Iconv to_gb18030("GB18030", "UTF-8");
    Iconv from_gbk("UTF-8", "GBK");
    ASSERT_TRUE(to_gbk.ok() && to_gb18030.ok() && from_gbk.ok());
    int encoded = 0;
    for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const std::string utf8 = utf8_of(cp);
        std::string expected, ignored;
        if (to_gbk.convert(utf8, expected)) {
            ++encoded;
        } else if (cp >= 0xE000 && cp <= 0xF8FF && to_gb18030.convert(utf8, expected) &&
                   expected.size() == 2 && !from_gbk.convert(expected, ignored)) {
            ++encoded;  // a user-defined area: the pair GBK leaves empty
        } else {
            expected = "?";
        }
        ASSERT_EQ(utf8_to_gbk(utf8), expected) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(utf16_to_gbk(std::u16string(1, static_cast<char16_t>(cp))), expected)
            << std::hex << static_cast<unsigned>(cp);
    }
    EXPECT_EQ(encoded, 21791 + 2043 + 1);  // the pairs, the user-defined areas, the euro sign
}

TEST(GbkCodec, EveryTwoByteCharacterAgreesWithIconvAndRoundTrips) {
    int checked = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        std::string row;
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            std::string reference;
            if (!iconv_convert("UTF-8", "GBK", pair, reference)) continue;
            row += pair;
            ++checked;
            ASSERT_EQ(utf8_to_gbk(reference), pair) << std::hex << lead << " " << trail;
        }
        std::string reference;
        ASSERT_TRUE(iconv_convert("UTF-8", "GBK", row, reference));
        ASSERT_EQ(gbk_to_utf8(row), reference) << "row " << std::hex << lead;
        ASSERT_EQ(utf16_to_gbk(gbk_to_utf16(row)), row) << "row " << std::hex << lead;
    }
    EXPECT_GT(checked, 21000);  // GBK holds 21886 two-byte characters
}

}  // namespace

#else

TEST(GbkTable, NeedsIconvToCompareWith) {
    GTEST_SKIP() << "no iconv on this platform; the table is checked where there is one";
}

#endif
