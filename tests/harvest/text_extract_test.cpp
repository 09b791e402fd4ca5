#include "harvest/text_extract.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "runtime/gbk.h"

namespace {

struct BetweenCase {
    const char* name;
    std::string text, start, end;
    ExtractOptions options;
    std::string expected;
};

TEST(ExtractBetween, CutsBetweenFirstStartAndNextEnd) {
    const std::string gbk_text = utf8_to_gbk("标题：淘宝\"spuId\":\"77\"");
    const BetweenCase cases[] = {
        {"plain", "a=[x]b", "[", "]", {}, "x"},
        {"first start wins", "[1][2]", "[", "]", {}, "1"},
        {"end searched after the start", "]x[y]", "[", "]", {}, "y"},
        {"start missing", "abc]", "[", "]", {}, ""},
        {"end missing", "[abc", "[", "]", {}, ""},
        {"end right after start", "[]x]", "[", "]", {}, ""},
        {"start at the very end", "abc[", "[", "]", {}, ""},
        {"end overlapping start not taken", "ab", "ab", "b", {}, ""},
        {"JSON field", "{\"rateTotal\":123,\"x\":1}", "rateTotal\":", ",", {}, "123"},
        {"marker case matters", "LastPage\":3,lastPage\":4,", "lastPage\":", ",", {}, "4"},
        {"GBK text around", gbk_text, "spuId\":\"", "\"", {}, "77"},
        // "\xB0i" is one GBK character: the "id=" inside it is no match.
        {"marker inside a character", "\xB0id=5&", "id=", "&", {}, ""},
        {"options: start position", "[1][2]", "[", "]", {.start = 2}, "2"},
        {"options: ignore case", "<B>x</B>", "<b>", "</b>", {.ignore_case = true}, "x"},
        {"options: keep markers", "a[x]b", "[", "]", {.keep_markers = true}, "[x]"},
        {"options: whole text when none", "abc", "[", "]", {.whole_if_none = true}, "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extract_between(c.text, c.start, c.end, c.options), c.expected) << c.name;
}

TEST(ExtractAfter, TakesTextAfterLastMarker) {
    const struct {
        std::string text, marker, expected;
    } cases[] = {
        {"http://x/item.htm?id=123", "id=", "123"},
        {"?id=1&sid=2", "id=", "2"},
        {"?id=1&skuId=2", "id=", "1&skuId=2"},  // case-sensitive: "Id=" is no match
        {"?id=", "id=", ""},
        {"no marker here", "id=", ""},
        {"", "id=", ""},
        {"id=id=", "id=", ""},
        {utf8_to_gbk("宝贝id=宝贝"), "id=", utf8_to_gbk("宝贝")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extract_after(c.text, c.marker), c.expected) << c.text;
}

TEST(ExtractAllBetween, CollectsEveryPieceInOrder) {
    const std::string m = "XXXXXXXXXX_!!";
    const struct {
        const char* name;
        std::string text, start, end, filter;
        std::vector<Text> expected;
    } cases[] = {
        {"buyer markers",
         "a" + m + "11-x" + m + "22-y" + m + "11-",
         m,
         "-",
         "",
         {"11", "22", "11"}},
        {"empty piece kept", m + "-" + m + "5-", m, "-", "", {"", "5"}},
        {"search resumes after the end", "<a<b>c>", "<", ">", "", {"a<b"}},
        {"last start without end", "[1][2", "[", "]", "", {"1"}},
        {"no start", "nothing", "[", "]", "", {}},
        {"filter skips a piece and resumes after its start", "[a[bad]c]", "[", "]", "bad", {}},
        {"filter keeps the others", "[ok][bad][fine]", "[", "]", "bad", {"ok", "fine"}},
        {"empty markers end instead of looping", "abc", "", "", "", {}},
        {"empty end marker", "[a[b", "[", "", "", {"", ""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extract_all_between(c.text, c.start, c.end, c.filter), c.expected) << c.name;
}

TEST(UniqueTexts, KeepsFirstOccurrenceInOrder) {
    const struct {
        std::vector<Text> in, expected;
    } cases[] = {
        {{}, {}},
        {{"b", "a", "b", "c", "a"}, {"b", "a", "c"}},
        {{"", "x", ""}, {"", "x"}},
        {{"A", "a"}, {"A", "a"}},  // exact byte comparison
        {{std::string("a\0b", 3), "a"}, {std::string("a\0b", 3), "a"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unique_texts(c.in), c.expected);
}

TEST(JsTimeMs, IsTheSystemClockInMilliseconds) {
    using namespace std::chrono;
    const auto now = [] {
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    };
    const long long before = now();
    const Text t = js_time_ms();
    const long long after = now();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.find_first_not_of("0123456789"), std::string::npos) << t;
    const long long value = std::stoll(t);
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
}

TEST(RandomDigits, GivesNDecimalDigits) {
    for (int n : {-1, 0, 1, 4, 20}) {
        const Text d = random_digits(n);
        EXPECT_EQ(d.size(), static_cast<size_t>(std::max(n, 0))) << n;
        EXPECT_EQ(d.find_first_not_of("0123456789"), std::string::npos) << d;
    }
    // Reseeded on every call: back-to-back calls still differ, and every digit shows up.
    std::set<Text> seen;
    std::set<char> digits;
    for (int i = 0; i < 50; ++i) {
        const Text d = random_digits(4);
        seen.insert(d);
        digits.insert(d.begin(), d.end());
    }
    EXPECT_GT(seen.size(), 40u);
    EXPECT_EQ(digits.size(), 10u);
}

}  // namespace
