#include "runtime/gbk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CodecCase {
    const char* utf8;
    const char* gbk;
    const char16_t* utf16;
};

TEST(GbkCodec, ConvertsBothWaysForCharactersGbkHolds) {
    const CodecCase cases[] = {
        {"", "", u""},
        {"plain ascii 123", "plain ascii 123", u"plain ascii 123"},
        {"中文", "\xD6\xD0\xCE\xC4", u"中文"},
        {"引号", "\xD2\xFD\xBA\xC5", u"引号"},
        {"€", "\x80", u"€"},                // code page 936's single-byte euro
        {"·—", "\xA1\xA4\xA1\xAA", u"·—"},  // the two marks GB2312 tables disagree on
        {"　", "\xA1\xA1", u"　"},          // full-width space
        {"é", "\xA8\xA6", u"é"},
        {"\xEE\x80\x80", "\xAA\xA1", u"\uE000"},  // user-defined area, private use
        {"a中b€c",
         "a\xD6\xD0"
         "b\x80"
         "c",
         u"a中b€c"},
    };
    for (const CodecCase& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(utf8_to_gbk(c.utf8), c.gbk);
        EXPECT_EQ(gbk_to_utf8(c.gbk), c.utf8);
        EXPECT_EQ(gbk_to_utf16(c.gbk), c.utf16);
        EXPECT_EQ(utf16_to_gbk(c.utf16), c.gbk);
    }
}

TEST(GbkCodec, CharactersGbkCannotHoldBecomeQuestionMarks) {
    const struct {
        const char* utf8;
        const char16_t* utf16;
        const char* gbk;
    } cases[] = {
        {"a😀b", u"a😀b", "a?b"},            // beyond the basic plane: one mark per character
        {"한", u"한", "?"},                // Hangul
        {"ก中", u"ก中", "?\xD6\xD0"},      // Thai next to Chinese
        {"\xEF\xBF\xBD", u"\uFFFD", "?"},  // the replacement character itself
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gbk);
        EXPECT_EQ(utf8_to_gbk(c.utf8), c.gbk);
        EXPECT_EQ(utf16_to_gbk(c.utf16), c.gbk);
    }
}

TEST(GbkCodec, MalformedUnicodeInputKeepsTheValidPart) {
    const struct {
        std::string utf8;
        const char* gbk;
    } cases[] = {
        {"a\xFF"
         "b",
         "a?b"},
        {"\xE4\xB8z", "??z"},               // a cut sequence, then ASCII that must survive
        {"\xC0\xAF", "??"},                 // over-long form of "/"
        {"\xED\xA0\x80x", "???x"},          // an encoded surrogate
        {"\xE4\xB8\xAD\xE4", "\xD6\xD0?"},  // lead byte at the very end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gbk);
        EXPECT_EQ(utf8_to_gbk(c.utf8), c.gbk);
    }
    const std::u16string lone_high = {u'a', char16_t(0xD800), u'b'};
    const std::u16string lone_low = {char16_t(0xDC00), u'c'};
    EXPECT_EQ(utf16_to_gbk(lone_high), "a?b");
    EXPECT_EQ(utf16_to_gbk(lone_low), "?c");
}

TEST(GbkCodec, InvalidGbkBecomesReplacementAndConversionGoesOn) {
    const struct {
        std::string gbk;
        const char* utf8;
    } cases[] = {
        {"\xFF"
         "a",
         "\xEF\xBF\xBD"
         "a"},
        {"ab\xD6", "ab\xEF\xBF\xBD"},  // lone lead byte at the end
        {"\x81 x", "\xEF\xBF\xBD x"},  // a space is no trail byte: kept
        {"\x81\x7F"
         "z",
         "\xEF\xBF\xBD\x7Fz"},  // neither is DEL
        {"\xA2\xE3"
         "q",
         "\xEF\xBF\xBDq"},  // a pair no table fills: one bad char
        {"\xD6\xD0\xFF\xCE\xC4", "中\xEF\xBF\xBD文"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(gbk_to_utf8(c.gbk), c.utf8);
        // The UTF-16 route agrees character for character with the UTF-8 one.
        const std::u16string wide = gbk_to_utf16(c.gbk);
        EXPECT_EQ(utf16_to_gbk(wide), utf8_to_gbk(c.utf8));
    }
}

TEST(GbkCodec, AnchorsMapUtf8OffsetsBackToTheGbkBytes) {
    // a 中 b € c <bad> d <lone lead>
    const std::string gbk =
        "a\xD6\xD0"
        "b\x80"
        "c\xFF"
        "d\xD6";
    std::vector<GbkUtf8Anchor> anchors;
    const std::string utf8 = gbk_to_utf8(gbk, &anchors);
    ASSERT_EQ(utf8,
              "a中b€c\xEF\xBF\xBD"
              "d\xEF\xBF\xBD");
    const struct {
        std::size_t utf8;
        std::size_t gbk;
    } boundaries[] = {{0, 0}, {1, 1}, {4, 3}, {5, 4}, {8, 5}, {9, 6}, {12, 7}, {13, 8}, {16, 9}};
    for (const auto& b : boundaries) {
        SCOPED_TRACE(b.utf8);
        EXPECT_EQ(gbk_offset_for_utf8(anchors, b.utf8), b.gbk);
    }
    std::vector<GbkUtf8Anchor> none;
    EXPECT_EQ(gbk_to_utf8("only ascii", &none), "only ascii");
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(gbk_offset_for_utf8(none, 7), 7u);
}

TEST(GbkCodec, ConversionIntoABufferCanLowerAsciiLetters) {
    const struct {
        const char* name;
        std::string gbk;
        bool lower;
        std::string utf8;
    } cases[] = {
        {"ASCII only, long enough for whole blocks", "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{0aZ", true,
         "abcdefghijklmnopqrstuvwxyz@[`{0az"},
        {"ASCII only, kept", "AbC", false, "AbC"},
        // 0x81 0x41 is one character whose second byte is "A": it must come out whole.
        {"trail byte that looks like a capital", "X\x81\x41Y", true, "x丄y"},
        {"capitals around Chinese", "NID\xD6\xD0USER_ID\xCE\xC4", true, "nid中user_id文"},
        {"bad bytes",
         "A\xFF"
         "B\x80",
         true,
         "a\xEF\xBF\xBD"
         "b€"},
    };
    std::string out = "left over from before";
    std::vector<GbkUtf8Anchor> anchors;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gbk_to_utf8(c.gbk, out, &anchors, c.lower);
        EXPECT_EQ(out, c.utf8);
        std::vector<GbkUtf8Anchor> fresh;
        gbk_to_utf8(c.gbk, &fresh);
        ASSERT_EQ(anchors.size(), fresh.size());  // the anchors do not depend on the letters' case
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            EXPECT_EQ(anchors[i].utf8_end, fresh[i].utf8_end);
            EXPECT_EQ(anchors[i].gbk_end, fresh[i].gbk_end);
        }
    }
}

}  // namespace
