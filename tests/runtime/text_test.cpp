#include "runtime/text.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// 0xB0 0x61 is one GBK character whose trail byte looks like 'a'; 0xA1 0xA1 is the full-width
// space.
const Text kTrailA = "\xB0\x61", kWide = "\xA1\xA1";
constexpr long long kAll = LLONG_MAX;

TEST(TextCut, LeftRightMidBeginsWith) {
    struct {
        long long start, n;
        const char *left, *right, *mid;
    } cases[] = {
        // clang-format off
        {2, 3, "abc", "def", "bcd"}, {5, 10, "abcdef", "abcdef", "ef"}, {7, 1, "a", "f", ""},
        {0, 2, "ab", "ef", ""}, {1, -4, "", "", ""}, {kAll, kAll, "abcdef", "abcdef", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(text_left("abcdef", c.n), c.left);
        EXPECT_EQ(text_right("abcdef", c.n), c.right);
        EXPECT_EQ(text_mid("abcdef", c.start, c.n), c.mid);
    }
    EXPECT_EQ(text_length("ab\xB0\x61"), 4);
    EXPECT_TRUE(text_begins_with("abc", "ab") && text_begins_with("abc", ""));
    EXPECT_FALSE(text_begins_with("abc", "AB") || text_begins_with("ab", "abc"));
}

TEST(TextFind, PositionsMissesAndTrailBytes) {
    struct {
        Text text, sought;
        long long start;
        bool ignore_case;
        int expected;
    } cases[] = {
        // clang-format off
        {"abc", "", 1, false, 1}, {"", "", 1, false, -1}, {"abc", "c", 4, false, -1},
        {"abcabc", "bc", 3, false, 5}, {"abcabc", "bc", -9, false, 2}, {"abc", "abcd", 1, false, -1},
        {"abc", "a", kAll, false, -1}, {"aXa", "x", 1, false, -1}, {"aXa", "x", 1, true, 2},
        {"abc", "", 2, false, 2},  // the empty text occurs at start, not before it
        // A match never starts on a trail byte, and folding leaves trail bytes alone.
        {kTrailA, "a", 1, false, -1}, {kTrailA + "a", "a", 1, false, 3}, {kTrailA + "A", "a", 1, true, 3},
        {"\xD5\xE6\xBC\xD9", "\xE6\xBC", 1, false, -1}, {"\xB0\xA1\xA1", kWide, 1, false, -1},
        {"ab\xB0", "\xB0", 1, false, 3}, {"\x81\x41", "\x81\x61", 1, true, -1},
        {kTrailA + "a", "a", 2, false, 2},  // a start inside a character scans from there
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_find(c.text, c.sought, c.start, c.ignore_case), c.expected) << &c - cases;
}

TEST(TextFind, LastOccurrence) {
    const auto none = std::nullopt;
    struct {
        Text text, sought;
        std::optional<long long> start;
        bool ignore_case;
        int expected;
    } cases[] = {
        // clang-format off
        {"abcabc", "bc", none, false, 5}, {"abcabc", "bc", 7, false, 5},
        {"abcabc", "bc", 6, false, 2},  // the second occurrence is not wholly inside
        {"abcabc", "bc", 1, false, -1}, {"abcabc", "BC", none, true, 5}, {"abcabc", "x", none, false, -1},
        {kTrailA + "a", "a", none, false, 3}, {kTrailA, "a", none, false, -1},
        {"aaa", "aa", none, false, 2}, {"a\xB0\x61", "", none, false, 2},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_find_last(c.text, c.sought, c.start, c.ignore_case), c.expected)
            << &c - cases;
}

// The fast search must agree with a plain character walk over random bytes dense in lead bytes,
// trail look-alikes and near misses.
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
            bool equal = true, trail = false;
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
        const Text text = make(24), sought = make(3);
        const size_t from = random() % (text.size() + 1);
        const bool fold = random() % 2;
        const int expected = from < text.size() ? walk(text, sought, from, fold) : -1;
        ASSERT_EQ(text_find(text, sought, from + 1, fold), expected) << "round " << round;
    }
}

TEST(TextReplace, StartCountAndCase) {
    struct {
        Text text, sought, replacement;
        long long start, count;
        bool case_sensitive;
        Text expected;
    } cases[] = {
        // clang-format off
        {"aAa", "a", "x", 1, -1, false, "xxx"}, {"aAa", "a", "x", 1, -1, true, "xAx"},
        {"aAa", "a", "x", 1, 1, false, "xAa"}, {"aAa", "a", "x", 1, 2, true, "xAx"},
        {"aAa", "a", "x", 1, 0, false, "aAa"}, {"aAa", "a", "x", 2, -1, false, "axx"},
        {"aAa", "a", "x", 4, -1, false, "aAa"}, {"aAa", "a", "x", 0, -1, false, "xxx"},
        {"aAa", "", "x", 1, -1, false, "aAa"}, {"a-b-c", "-", "", 1, -1, true, "abc"},
        {"ab", "b", "bbb", 1, -1, true, "abbb"}, {"aaa", "aa", "b", 1, -1, true, "ba"},
        {kTrailA + "a", "a", "x", 1, -1, true, kTrailA + "x"}, {"a\xB0", "a", "x", 1, -1, true, "x\xB0"},
        {"\x81\x41", "\x81\x61", "x", 1, -1, false, "\x81\x41"},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_replace(c.text, c.sought, c.replacement, c.start, c.count, c.case_sensitive),
                  c.expected)
            << &c - cases;
}

TEST(TextSplit, PiecesAndLimits) {
    using V = std::vector<Text>;
    struct {
        Text text, delimiter;
        long long max_parts;
        V expected;
    } cases[] = {
        // clang-format off
        {"a,,b", ",", kAll, {"a", "", "b"}}, {",a", ",", kAll, {"", "a"}}, {"a,b,", ",", kAll, {"a", "b"}},
        {",", ",", kAll, {""}}, {"", ",", kAll, {}}, {"a,b,c", ",", 2, {"a", "b"}},
        {"a,b,c", ",", 3, {"a", "b", "c"}}, {"a,b,c", ",", 0, {}}, {"a,b,c", ",", -4, {}},
        {"a,b", "", kAll, {"a,b"}}, {"a\r\nb\r\n\r\nc", "\r\n", kAll, {"a", "b", "", "c"}},
        {"\xB0,x", ",", kAll, {"\xB0,x"}},  // a trail byte never splits
        {"x\xB0", ",", kAll, {"x\xB0"}},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(text_split(c.text, c.delimiter, c.max_parts), c.expected) << &c - cases;
    EXPECT_EQ(text_split("a,b"), (V{"a", "b"}));  // comma by default
}

TEST(TextTrim, AsciiAndFullWidthSpaces) {
    const Text x = "x" + kWide + "\xD5\xE6", lone = "\xB0\xA1\xA1";
    struct {
        Text text, left, right, both, stripped;
    } cases[] = {
        // clang-format off
        {kWide + " a b " + kWide, "a b " + kWide, kWide + " a b", "a b", "ab"},
        {"\ta\r\n", "\ta\r\n", "\ta\r\n", "\ta\r\n", "\ta\r\n"}, {"   ", "", "", "", ""},
        {lone, lone, lone, lone, lone}, {"\xA1", "\xA1", "\xA1", "\xA1", "\xA1"},
        {kWide + "\xA1", "\xA1", kWide + "\xA1", "\xA1", "\xA1"}, {x + " ", x + " ", x, x, "x\xD5\xE6"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(text_trim_left(c.text), c.left);
        EXPECT_EQ(text_trim_right(c.text), c.right);
        EXPECT_EQ(text_trim(c.text), c.both);
        EXPECT_EQ(text_strip_spaces(c.text), c.stripped);
    }
}

TEST(TextMake, CaseSpacesAndChar) {
    EXPECT_EQ(text_upper("abXY9\xB0\x61z\xB0"), "ABXY9\xB0\x61Z\xB0");
    EXPECT_EQ(text_lower("ABxy9\x81\x41Z"), "abxy9\x81\x41z");
    const std::pair<long long, Text> spaces[] = {{3, "   "}, {0, ""}, {-2, ""}, {kAll, ""}};
    for (const auto& [n, expected] : spaces)
        EXPECT_EQ(text_spaces(n), expected) << n;
    const std::pair<int, Text> chars[] = {
        {65, "A"}, {0xB0, "\xB0"}, {322, "B"}, {0, ""}, {256, ""}};
    for (const auto& [code, expected] : chars)
        EXPECT_EQ(text_char(code), expected) << code;
}

TEST(BytesOps, FindReplaceLeftZero) {
    const Bytes data{'a', 0, 'b', 0, 'b'};
    const std::tuple<Bytes, long long, int> finds[] = {
        {{0, 'b'}, 3, 4}, {{0, 'b'}, 5, -1}, {{'b'}, -1, 3}, {{}, 6, -1}, {{'b'}, kAll, -1}};
    for (const auto& [sought, start, expected] : finds)
        EXPECT_EQ(bytes_find(data, sought, start), expected) << "from " << start;
    EXPECT_EQ(bytes_replace(data, {0}, {'-', '-'}), (Bytes{'a', '-', '-', 'b', '-', '-', 'b'}));
    EXPECT_EQ(bytes_replace(data, {0}, {}, 3, 1), (Bytes{'a', 0, 'b', 'b'}));
    EXPECT_EQ(bytes_replace(data, {0}, {}, 9), data);
    EXPECT_EQ(bytes_left(data, 2), (Bytes{'a', 0}));
    EXPECT_EQ(bytes_left(data, kAll), data);
    EXPECT_EQ(bytes_zero(3), (Bytes{0, 0, 0}));
    EXPECT_EQ(bytes_zero(kAll), Bytes{});
}

}  // namespace
