#include "harvest/unescape_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

using namespace std::literals;

namespace {

struct Case {
    const char* rule;
    std::string_view in;
    std::string_view out;
};

std::string show(std::string_view s) {
    std::string r;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            r += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            r += buf;
        }
    }
    return r;
}

// "中" is D6 D0 in GBK, "文" CE C4; "é" A8 A6; ’ A1 AF; 0x95 0x5C is a character whose trail
// byte is a backslash.
const Case kCases[] = {
    // JSON escapes of item addresses.
    {"json escapes", "/item.htm?id\\u003d12\\u0026ns\\u003d1", "/item.htm?id=12&ns=1"},
    {"escaped slashes", "\\/\\/a\\/b", "//a/b"},
    {"typical address",
     "\\/\\/detail.tmall.com\\/item.htm?id\\u003d5234\\u0026skuId\\u003d31\\u0026spm\\u003da1z10",
     "//detail.tmall.com/item.htm?id=5234&skuId=31&spm=a1z10"},
    {"upper-case U is no unicode escape", "\\U0041", "U0041"},
    {"u escape upper-case hex", "\\u004A", "J"},
    {"escaped backslash before u", "\\\\u0041", "A"},
    {"plain text", "abc", "abc"},
    {"empty", "", ""},

    // unescape() after the literal.
    {"percent hex", "x%41y", "xAy"},
    {"percent lower-case hex", "%6a%6A", "jj"},
    {"trailing percent", "100%", "100%"},
    {"percent one digit", "%4", "%4"},
    {"percent non-hex", "%g1", "%g1"},
    {"double percent", "%%41", "%A"},
    {"decoded once only", "%2541", "%41"},
    {"percent-u four digits", "%u4E2D", "\xD6\xD0"},
    {"percent-u lower-case hex", "%u4e2d%u6587", "\xD6\xD0\xCE\xC4"},
    {"percent-u three digits kept", "%u4E2", "%u4E2"},
    {"percent-u three digits then text", "%u004z", "%u004z"},
    {"percent-u five digits", "%u00410", "A0"},
    {"percent-U is not unicode", "%U0041", "%U0041"},
    {"bare percent-u", "%u", "%u"},
    {"percent-u two hex digits then rest", "%u4", "%u4"},
    {"unicode outside GBK", "%uD800", "?"},
    {"latin letter in GBK", "%E9", "\xA8\xA6"},
    {"percent newline is data", "a%0Ab", "a\nb"},
    {"percent CR LF", "a%0D%0Ab", "a\r\nb"},
    {"literal runs before unescape", "\\x25u0041", "A"},
    {"escaped percent still unescaped", "\\%41", "A"},
    {"backslash from unescape stays", "%5Cn", "\\n"},

    // Single-character escapes.
    {"control escapes", "\\b\\t\\n\\f\\r", "\b\t\n\f\r"},
    {"quotes and backslash", "\\\"\\'\\\\", "\"'\\"},
    {"v is just v", "\\v", "v"},
    {"other letters stand for themselves", "\\q\\a\\z", "qaz"},
    {"eight and nine", "\\8\\9", "89"},

    // Hex escapes.
    {"hex escape", "\\x41\\x6a", "Aj"},
    {"hex escape upper letters", "\\x4A", "J"},
    {"hex one digit then non-hex", "\\x4g", "x4g"},
    {"hex one digit at end", "\\x4", "x4"},
    {"bare x", "\\x", "x"},
    {"hex three digits", "\\x414", "A4"},
    {"hex non-ascii", "\\xE9", "\xA8\xA6"},

    // Octal escapes, at most 255.
    {"octal three digits", "\\101", "A"},
    {"octal fourth digit is text", "\\1011", "A1"},
    {"octal one digit", "\\18",
     "\x01"
     "8"},
    {"octal two digits", "\\62x", "2x"},
    {"octal above 255 stops", "\\400", " 0"},
    {"octal 377", "\\377", "?"},
    {"octal 777", "\\777", "?7"},
    {"octal 351", "\\351", "\xA8\xA6"},

    // Apostrophes and the quotation mark.
    {"apostrophe", "it's", "it's"},
    {"escaped apostrophe", "it\\'s", "it's"},
    {"quotation mark in input",
     "a\xA1\xAF"
     "b",
     "a'b"},
    {"quotation mark from unescape", "%u2019", "'"},
    {"apostrophe from unescape", "%27", "'"},

    // Line breaks.
    {"CR LF survives", "a\r\nb", "a\r\nb"},
    {"placeholder becomes CR LF", "a{$}b", "a\r\nb"},
    {"placeholder from unescape", "%7B$}", "\r\n"},
    {"leading CR removed", "\rabc", "abc"},
    {"leading CR before CR LF", "\r\r\nx", "\r\nx"},
    {"leading CR LF kept", "\r\nx", "\r\nx"},
    {"only a CR", "\r", ""},
    {"lone LF", "a\nb", ""},
    {"lone CR inside", "a\rb", ""},
    {"second CR", "\r\r", ""},
    {"LF CR", "a\n\rb", ""},
    {"line continuation LF", "a\\\nb", "ab"},
    {"line continuation CR", "a\\\rb", "ab"},
    {"backslash before CR LF", "a\\\r\nb", "a\r\nb"},

    // Backslash at the end.
    {"one trailing backslash", "abc\\", ""},
    {"two trailing backslashes", "abc\\\\", "abc\\"},
    {"three trailing backslashes", "abc\\\\\\", ""},
    {"only a backslash", "\\", ""},

    // NUL ends a text.
    {"NUL from unescape", "a%00b", "a"},
    {"NUL from octal", "a\\0b", "a"},
    {"NUL in the input", "a\0b"sv, "a"},

    // GBK text.
    {"Chinese passes", "\xD6\xD0\xCE\xC4", "\xD6\xD0\xCE\xC4"},
    {"Chinese among escapes", "\xD6\xD0\\u003d\xCE\xC4", "\xD6\xD0=\xCE\xC4"},
    {"trail backslash is no escape", "\x95\x5Cu0041", "\x95\x5Cu0041"},
    {"trail backslash at end", "ab\x95\x5C", "ab\x95\x5C"},
    {"trail backslash before apostrophe", "\x95\x5C'", "\x95\x5C'"},
    {"trail backslash before n", "\x95\x5Cn", "\x95\x5Cn"},
    {"escaped Chinese", "\\\xD6\xD0", "\xD6\xD0"},
    {"Chinese with CR LF", "\xD6\xD0\r\n\xCE\xC4", "\xD6\xD0\r\n\xCE\xC4"},
    {"Chinese with lone LF", "\xD6\xD0\n", ""},

    // Invalid GBK: the bytes around it survive.
    {"lone lead byte at the end", "ab\x81", "ab?"},
    {"lead byte before apostrophe", "ab\x81'", "ab?'"},
    {"only a lead byte", "\x81", "?"},
    {"two invalid bytes", "\xFF\xFF", "??"},
    {"euro byte before backslash", "ab\x80\\u0041",
     "ab\x80"
     "A"},
};

TEST(UnescapeText, DecodesEachRule) {
    for (const Case& c : kCases) {
        EXPECT_EQ(show(unescape_text(c.in)), show(c.out)) << c.rule << ": " << show(c.in);
    }
}

TEST(UnescapeText, GeneralPathAgreesOnEveryCase) {
    for (const Case& c : kCases) {
        EXPECT_EQ(show(unescape_text_general(c.in)), show(c.out)) << c.rule << ": " << show(c.in);
    }
}

// Short texts over the characters that matter to the decoding, generated from a fixed seed: the
// ASCII shortcut and the UTF-16 path must agree on all of them.
TEST(UnescapeText, AsciiShortcutMatchesGeneralPath) {
    static constexpr std::string_view alphabet = "\\\\\\%%u0x7A4fg'\r\n{$}9";
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    int mismatches = 0;
    for (int n = 0; n < 40000 && mismatches < 5; ++n) {
        std::string s;
        const unsigned length = next() % 11;
        for (unsigned k = 0; k < length; ++k)
            s += alphabet[next() % alphabet.size()];
        const Text fast = unescape_text(s);
        const Text general = unescape_text_general(s);
        if (fast != general) {
            ++mismatches;
            ADD_FAILURE() << show(s) << " fast " << show(fast) << " general " << show(general);
        }
    }
}

struct LiteralCase {
    const char* rule;
    std::u16string_view body;
    std::optional<std::u16string_view> value;
};

TEST(DecodeStringLiteral, ReadsUtf16Bodies) {
    const LiteralCase cases[] = {
        {"line separator", u"a\u2028b", std::nullopt},
        {"paragraph separator", u"a\u2029b", std::nullopt},
        {"continued by line separator", u"a\\\u2028b", u"ab"},
        {"continued by CR LF", u"a\\\r\nb", u"ab"},
        {"unicode escape", u"\\u4e2d", u"\u4e2d"},
        {"short unicode escape", u"\\u4e2", u"u4e2"},
        {"hex to wide unit", u"\\xff", u"\u00ff"},
        {"raw apostrophe kept", u"a'b", u"a'b"},
        {"trailing backslash", u"a\\", std::nullopt},
        {"NUL escape", u"a\\0", std::u16string_view(u"a\0", 2)},
    };
    for (const LiteralCase& c : cases) {
        const auto got = decode_string_literal(c.body);
        ASSERT_EQ(got.has_value(), c.value.has_value()) << c.rule;
        if (got) {
            EXPECT_EQ(*got, *c.value) << c.rule;
        }
    }
}

TEST(ScriptUnescape, DecodesWideUnits) {
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"%uD83D%uDE00", u"\xD83D\xDE00"},
        {u"%FF%u00ff", u"\u00ff\u00ff"},
        {u"%u12%41", u"%u12A"},
        {u"\u4e2d%", u"\u4e2d%"},
        {u"a%00b", std::u16string_view(u"a\0b", 3)},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(script_unescape(in), out);
}

}  // namespace
