#include "runtime/text.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// GBK samples: 0xB0 0x61 is one two-byte character whose trail byte looks like 'a';
// 0xA1 0xA1 is the full-width space.
const Text kTrailA = "\xB0\x61";
const Text kWide = "\xA1\xA1";

TEST(TextCut, LeftRightMid) {
    struct Case {
        const char* text;
        long long start, n;
        const char *left, *right, *mid;
    } cases[] = {
        {"abcdef", 2, 3, "abc", "def", "bcd"},
        {"abcdef", 5, 10, "abcdef", "abcdef", "ef"},
        {"abcdef", 6, 1, "a", "f", "f"},
        {"abcdef", 7, 1, "a", "f", ""},    // start past the end
        {"abcdef", 0, 2, "ab", "ef", ""},  // start below 1
        {"abcdef", -3, 0, "", "", ""},     // n = 0
        {"abcdef", 1, -4, "", "", ""},     // negative n
        {"abcdef", 1, LLONG_MAX, "abcdef", "abcdef", "abcdef"},
        {"abcdef", LLONG_MAX, LLONG_MAX, "abcdef", "abcdef", ""},
        {"", 1, 3, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " start " << c.start << " n " << c.n);
        EXPECT_EQ(text_left(c.text, c.n), c.left);
        EXPECT_EQ(text_right(c.text, c.n), c.right);
        EXPECT_EQ(text_mid(c.text, c.start, c.n), c.mid);
    }
    EXPECT_EQ(text_length("ab\xB0\x61"), 4);
    EXPECT_EQ(text_length(""), 0);
}

struct FindCase {
    Text text, sought;
    long long start;
    bool ignore_case;
    int expected;
};

TEST(TextFind, PositionsAndMisses) {
    const FindCase cases[] = {
        {"abc", "", 1, false, 1},
        {"", "", 1, false, -1},
        {"", "a", 1, false, -1},
        {"abc", "c", 4, false, -1},
        {"abc", "c", 3, false, 3},
        {"abc", "c", 1, false, 3},
        {"abcabc", "bc", 3, false, 5},
        {"abcabc", "bc", 0, false, 2},  // start below 1 counts as 1
        {"abcabc", "bc", -9, false, 2},
        {"abc", "abcd", 1, false, -1},
        {"abc", "a", LLONG_MAX, false, -1},
        {"aXa", "x", 1, false, -1},
        {"aXa", "x", 1, true, 2},
        {"HeLLo", "ll", 1, true, 3},
        {"abc", "", 2, false, 2},  // the empty text occurs at start, not before it
        {"aaa", "aa", 2, false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << '"' << c.text << "\" / \"" << c.sought << "\" from " << c.start);
        EXPECT_EQ(text_find(c.text, c.sought, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFind, NeverMatchesAtTrailByte) {
    const FindCase cases[] = {
        {kTrailA, "a", 1, false, -1},
        {kTrailA + "a", "a", 1, false, 3},
        {kTrailA + "A", "a", 1, true, 3},
        {"\xD5\xE6\xBC\xD9", "\xE6\xBC", 1, false, -1},  // straddles two characters
        {"\xD5\xE6\xBC\xD9", "\xBC\xD9", 1, false, 3},
        {"\xB0\xA1\xA1", kWide, 1, false, -1},  // lone A1 after a character
        {"ab\xB0", "\xB0", 1, false, 3},        // lone lead byte at the end
        {"\x81\x41", "\x81\x61", 1, true, -1},  // folding leaves trail bytes alone
        {"\x81\x41", "\x81\x41", 1, true, 1},
        {kTrailA + "a", "a", 2, false, 2},  // a start inside a character begins a new scan there
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "case sought " << c.sought.size() << " bytes from " << c.start);
        EXPECT_EQ(text_find(c.text, c.sought, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFind, LastOccurrence) {
    struct Case {
        Text text, sought;
        std::optional<long long> start;
        bool ignore_case;
        int expected;
    } cases[] = {
        {"abcabc", "bc", std::nullopt, false, 5},
        {"abcabc", "bc", 7, false, 5},
        {"abcabc", "bc", 6, false, 2},  // the second occurrence is not wholly inside
        {"abcabc", "bc", 1, false, -1},
        {"abcabc", "bc", -2, false, -1},
        {"abcabc", "BC", std::nullopt, true, 5},
        {"abcabc", "x", std::nullopt, false, -1},
        {kTrailA + "a", "a", std::nullopt, false, 3},
        {kTrailA, "a", std::nullopt, false, -1},
        {"aaa", "aa", std::nullopt, false, 2},
        {"", "a", std::nullopt, false, -1},
        {"ab", "", std::nullopt, false, 2},
        {"a\xB0\x61", "", std::nullopt, false, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << "\" / \"" << c.sought << '"');
        EXPECT_EQ(text_find_last(c.text, c.sought, c.start, c.ignore_case), c.expected);
    }
}

// Checks the fast search against the character walk it must agree with, over random GBK-ish
// bytes that are dense in lead bytes, trail look-alikes and near misses.
TEST(TextFind, AgreesWithCharacterWalk) {
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', 'A', '\xB0', '\xA1', ' '};
    auto make = [&](int max) {
        Text t(random() % (max + 1), 'a');
        for (char& ch : t)
            ch = alphabet[random() % sizeof alphabet];
        return t;
    };
    auto walk = [](const Text& text, const Text& sought, size_t from, bool fold) -> int {
        auto low = [](unsigned char x) { return x >= 'A' && x <= 'Z' ? x + 32 : x; };
        for (size_t i = from; i + sought.size() <= text.size();) {
            bool equal = true;
            bool trail = false;
            for (size_t k = 0; k < sought.size() && equal; ++k) {
                unsigned char a = text[i + k], b = sought[k];
                equal = (fold && !trail) ? low(a) == low(b) : a == b;
                trail = !trail && b >= 0x80;
            }
            if (equal) return static_cast<int>(i) + 1;
            i += static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
        }
        return -1;
    };
    for (int round = 0; round < 4000; ++round) {
        const Text text = make(24);
        const Text sought = make(3);
        const long long start = 1 + random() % (text.size() + 1);
        const bool fold = random() % 2;
        int expected = start - 1 < static_cast<long long>(text.size())
                           ? walk(text, sought, start - 1, fold)
                           : -1;
        ASSERT_EQ(text_find(text, sought, start, fold), expected) << "round " << round;
    }
}

TEST(TextBeginsWith, ExactBytes) {
    struct Case {
        const char *text, *prefix;
        bool expected;
    } cases[] = {
        {"abc", "ab", true},  {"abc", "abc", true}, {"abc", "abcd", false},
        {"abc", "AB", false}, {"abc", "", true},    {"", "a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_begins_with(c.text, c.prefix), c.expected) << c.prefix;
}

TEST(TextReplace, StartCountAndCase) {
    struct Case {
        Text text, sought, replacement;
        long long start, count;
        bool case_sensitive;
        Text expected;
    } cases[] = {
        {"aAa", "a", "x", 1, -1, false, "xxx"},
        {"aAa", "a", "x", 1, -1, true, "xAx"},
        {"aAa", "a", "x", 1, 1, false, "xAa"},
        {"aAa", "a", "x", 1, 2, true, "xAx"},
        {"aAa", "a", "x", 1, 0, false, "aAa"},
        {"aAa", "a", "x", 2, -1, false, "axx"},
        {"aAa", "a", "x", 4, -1, false, "aAa"},
        {"aAa", "a", "x", 0, -1, false, "xxx"},
        {"aAa", "a", "x", 1, LLONG_MAX, true, "xAx"},
        {"aAa", "", "x", 1, -1, false, "aAa"},
        {"", "a", "x", 1, -1, false, ""},
        {"a-b-c", "-", "", 1, -1, true, "abc"},
        {"ab", "b", "bbb", 1, -1, true, "abbb"},  // the replacement is not scanned again
        {"aaa", "aa", "b", 1, -1, true, "ba"},
        {kTrailA, "a", "x", 1, -1, true, kTrailA},
        {kTrailA + "a", "a", "x", 1, -1, true, kTrailA + "x"},
        {"a\xB0", "a", "x", 1, -1, true, "x\xB0"},
        {"\x81\x41", "\x81\x61", "x", 1, -1, false, "\x81\x41"},
        {"A\xD5\xE6"
         "a",
         "\xD5\xE6", "!", 1, -1, false, "A!a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << "\" " << c.sought << " start "
                                        << c.start << " count " << c.count);
        EXPECT_EQ(text_replace(c.text, c.sought, c.replacement, c.start, c.count, c.case_sensitive),
                  c.expected);
    }
}

TEST(TextSplit, PiecesAndLimits) {
    using V = std::vector<Text>;
    struct Case {
        Text text, delimiter;
        long long max_parts;
        V expected;
    } cases[] = {
        {"a,,b", ",", LLONG_MAX, {"a", "", "b"}},
        {",a", ",", LLONG_MAX, {"", "a"}},
        {"a,b,", ",", LLONG_MAX, {"a", "b"}},
        {",", ",", LLONG_MAX, {""}},
        {",,", ",", LLONG_MAX, {"", ""}},
        {"", ",", LLONG_MAX, {}},
        {"a,b,c", ",", 2, {"a", "b"}},
        {"a,b,c", ",", 3, {"a", "b", "c"}},
        {"a,b,c", ",", 1, {"a"}},
        {"a,b,c", ",", 0, {}},
        {"a,b,c", ",", -4, {}},
        {"abc", ",", 1, {"abc"}},
        {"a,b", "", LLONG_MAX, {"a,b"}},
        {"a<>b<>", "<>", LLONG_MAX, {"a", "b"}},
        {"a\r\nb\r\n\r\nc", "\r\n", LLONG_MAX, {"a", "b", "", "c"}},
        {"\xB0,x", ",", LLONG_MAX, {"\xB0,x"}},  // a trail byte never splits
        {"x\xB0", ",", LLONG_MAX, {"x\xB0"}},
        {"a\xD5\xE6"
         "b",
         "\xD5\xE6",
         LLONG_MAX,
         {"a", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << "\" max " << c.max_parts);
        EXPECT_EQ(text_split(c.text, c.delimiter, c.max_parts), c.expected);
    }
    EXPECT_EQ(text_split("a,b"), (V{"a", "b"}));  // comma by default
}

TEST(TextTrim, AsciiAndFullWidthSpaces) {
    struct Case {
        Text text, left, right, both, stripped;
    } cases[] = {
        {kWide + " a b " + kWide, "a b " + kWide, kWide + " a b", "a b", "ab"},
        {"\ta\r\n", "\ta\r\n", "\ta\r\n", "\ta\r\n", "\ta\r\n"},
        {"   ", "", "", "", ""},
        {"", "", "", "", ""},
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1", "\xB0\xA1\xA1", "\xB0\xA1\xA1", "\xB0\xA1\xA1"},
        {"\xA1", "\xA1", "\xA1", "\xA1", "\xA1"},  // a lone A1 is not a space
        {kWide + "\xA1", "\xA1", kWide + "\xA1", "\xA1", "\xA1"},
        {"x" + kWide + "\xD5\xE6 ", "x" + kWide + "\xD5\xE6 ", "x" + kWide + "\xD5\xE6",
         "x" + kWide + "\xD5\xE6", "x\xD5\xE6"},
        {"a " + kWide + "b", "a " + kWide + "b", "a " + kWide + "b", "a " + kWide + "b", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
        EXPECT_EQ(text_trim_left(c.text), c.left);
        EXPECT_EQ(text_trim_right(c.text), c.right);
        EXPECT_EQ(text_trim(c.text), c.both);
        EXPECT_EQ(text_strip_spaces(c.text), c.stripped);
    }
}

TEST(TextCase, AsciiLettersOnly) {
    struct Case {
        Text text, upper, lower;
    } cases[] = {
        {"abcXYZ09", "ABCXYZ09", "abcxyz09"},
        {"a\xB0\x61z", "A\xB0\x61Z", "a\xB0\x61z"},
        {"A\x81\x41Z", "A\x81\x41Z", "a\x81\x41z"},
        {"a\xB0", "A\xB0", "a\xB0"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_upper(c.text), c.upper) << c.text;
        EXPECT_EQ(text_lower(c.text), c.lower) << c.text;
    }
}

TEST(TextMake, SpacesAndChar) {
    const std::pair<long long, Text> spaces[] = {
        {3, "   "}, {1, " "}, {0, ""}, {-2, ""}, {LLONG_MAX, ""}};
    for (const auto& [n, expected] : spaces)
        EXPECT_EQ(text_spaces(n), expected) << n;
    const std::pair<int, Text> chars[] = {{65, "A"},       {48, "0"}, {0xB0, "\xB0"},
                                          {256 + 66, "B"}, {0, ""},   {256, ""}};
    for (const auto& [code, expected] : chars)
        EXPECT_EQ(text_char(code), expected) << code;
}

TEST(BytesOps, FindReplaceLeftZero) {
    const Bytes data{'a', 0, 'b', 0, 'b'};
    struct FindCase {
        Bytes sought;
        long long start;
        int expected;
    } finds[] = {
        {{0, 'b'}, 1, 2}, {{0, 'b'}, 3, 4}, {{0, 'b'}, 5, -1}, {{'b'}, -1, 3},
        {{}, 1, 1},       {{}, 6, -1},      {{'x'}, 1, -1},    {{'b'}, LLONG_MAX, -1},
    };
    for (const auto& c : finds)
        EXPECT_EQ(bytes_find(data, c.sought, c.start), c.expected) << "from " << c.start;
    EXPECT_EQ(bytes_find({}, {}, 1), -1);

    struct ReplaceCase {
        Bytes sought, replacement;
        long long start, count;
        Bytes expected;
    } replaces[] = {
        {{0}, {'-', '-'}, 1, -1, {'a', '-', '-', 'b', '-', '-', 'b'}},
        {{0}, {}, 1, 1, {'a', 'b', 0, 'b'}},
        {{0}, {}, 3, -1, {'a', 0, 'b', 'b'}},
        {{0}, {}, 1, 0, data},
        {{0}, {}, 9, -1, data},
        {{}, {'x'}, 1, -1, data},
    };
    for (const auto& c : replaces)
        EXPECT_EQ(bytes_replace(data, c.sought, c.replacement, c.start, c.count), c.expected);

    EXPECT_EQ(bytes_left(data, 2), (Bytes{'a', 0}));
    EXPECT_EQ(bytes_left(data, LLONG_MAX), data);
    EXPECT_EQ(bytes_left(data, -1), Bytes{});
    EXPECT_EQ(bytes_zero(3), (Bytes{0, 0, 0}));
    EXPECT_EQ(bytes_zero(-3), Bytes{});
    EXPECT_EQ(bytes_zero(LLONG_MAX), Bytes{});
    EXPECT_EQ(bytes_length(data), 5);
}

}  // namespace
