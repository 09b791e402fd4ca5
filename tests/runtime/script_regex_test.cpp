#include "runtime/script_regex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "runtime/gbk.h"
#include "runtime/regex.h"

namespace {

using Matches = std::vector<std::vector<std::string>>;  // per match: whole, group 1, group 2, ...

const ScriptRegexEngine kEngines[] = {ScriptRegexEngine::automatic, ScriptRegexEngine::linear,
                                      ScriptRegexEngine::backtracking};

const char* engine_name(ScriptRegexEngine e) {
    return e == ScriptRegexEngine::linear         ? "linear"
           : e == ScriptRegexEngine::backtracking ? "backtracking"
                                                  : "automatic";
}

Matches texts_of(const ScriptMatchSet& set) {
    Matches out;
    for (std::size_t m = 0; m < set.count(); ++m) {
        std::vector<std::string> one;
        for (std::size_t g = 0; g < set.width; ++g)
            one.push_back(set.text(*set.span(m, g)));
        out.push_back(one);
    }
    return out;
}

Matches gbk_matches(const Matches& utf8) {
    Matches out = utf8;
    for (auto& match : out)
        for (auto& text : match)
            text = utf8_to_gbk(text);
    return out;
}

// The program's own patterns, in GBK as the program holds them.
const std::string kItemPattern =
    R"re("nid":"(\d+)",.*?"detail_url":"(.*?)",.*?"user_id":"(\d+)")re";

std::string shop_page_count_a() {
    return utf8_to_gbk(
        "<span class=\"page-info\">1/([0-9]*?)</span>\\s*<a\\s*class=\"disable\"\\s*>上一页</a>"
        "\\s*<a\\s*href=\"(.*?)2\"\\s*>下一页</a>\r");
}
std::string shop_items_a() {
    return utf8_to_gbk(
        "<a\\s*class=\"item-name\"\\s*href=\"(.*?)\"\\s*target=\"_blank\">(.*?)</a>\\s*<div\\s*"
        "class=\"attribute\">\\s*<div\\s*class=\"cprice-area\"><span class=\"symbol\">&yen;</span>"
        "<span class=\"c-price\">(.*?)</span></div>(\\s*<div\\s*class=\"sprice-area\"><span "
        "class=\"symbol\">&yen;</span><span\\s*class=\"s-price\">(.*?)</span></div>)?\r\\s*<div\\s*"
        "class=\"sale-area\">已售：<span class=\"sale-num\">(.*?)</span>件</div>\r");
}
std::string shop_page_count_b() {
    return utf8_to_gbk("<b class=\"ui-page-s-len\">1/(\\d+)</b>\r\n" + std::string(28, ' ') +
                       "<b title=\"上一页\" class=\"ui-page-s-prev\">&lt;</b>\r\n" +
                       std::string(40, ' ') + "<a title=\"下一页\" class=\"ui-page-s-next\"");
}
const std::string kShopItemsB = "href=\"(\\S*?)\" target=\"_blank\">\\s*<img alt=\"";

struct PageItem {
    std::string nid, url, user_id;
};

// A search result page as the marketplace embeds it: one long line of JSON, ~4.5 KB per item.
std::string search_page(int count, bool with_user_id, std::vector<PageItem>* items = nullptr) {
    std::string page =
        "g_page_config = {\"pageName\":\"mainsrp\",\"mods\":{\"itemlist\":{\"data\":{"
        "\"auctions\":[";
    const std::string filler(3900, 'x');
    for (int i = 0; i < count; ++i) {
        const std::string nid = std::to_string(520000000000LL + i * 7919);
        const std::string uid = std::to_string(1700000000 + i * 31);
        const std::string url = "\\/\\/item.taobao.com\\/item.htm?id\\u003d" + nid +
                                "\\u0026ns\\u003d1\\u0026abbucket\\u003d" + std::to_string(i % 20);
        if (items) items->push_back({nid, url, uid});
        page += i ? ",{" : "{";
        page += "\"p4pTags\":[],\"nid\":\"" + nid + "\",\"category\":\"50010850\",\"pid\":\"\",";
        page += utf8_to_gbk("\"title\":\"夏季<span class=H>连衣裙</span>新款 " + std::to_string(i) +
                            "\",\"raw_title\":\"夏季连衣裙\",");
        page +=
            "\"pic_url\":\"\\/\\/g-search1.alicdn.com\\/img\\/bao\\/uploaded\\/" + nid + ".jpg\",";
        page += "\"detail_url\":\"" + url + "\",\"view_price\":\"129.00\",\"view_fee\":\"0.00\",";
        page += utf8_to_gbk("\"item_loc\":\"浙江 杭州\",\"view_sales\":\"1234人付款\",");
        page += "\"comment_count\":\"56\",";
        if (with_user_id) page += "\"user_id\":\"" + uid + "\",";
        page += utf8_to_gbk("\"nick\":\"某某旗舰店\",") + "\"comment_url\":\"" + filler + "\"}";
    }
    page += "]}}}};\n";
    return page;
}

std::string shop_page_a() {
    return utf8_to_gbk(
        "<div class=\"pagination\"><span class=\"page-info\">1/7</span>\r\n  <a class=\"disable\" >"
        "上一页</a>\r\n  <a href=\"//shop1.example/search.htm?pageNo=2\" >下一页</a>\r\n</div>\r\n"
        "<a class=\"item-name\" href=\"//item.example/item.htm?id=11\" target=\"_blank\">连衣裙</a>"
        "\r\n  <div class=\"attribute\">\r\n  <div class=\"cprice-area\"><span "
        "class=\"symbol\">&yen;"
        "</span><span class=\"c-price\">129.00</span></div>\r\n  <div "
        "class=\"sale-area\">已售：<span "
        "class=\"sale-num\">35</span>件</div>\r\n"
        "<a class=\"item-name\" href=\"//item.example/item.htm?id=12\" "
        "target=\"_blank\">T恤</a>\r\n"
        "  <div class=\"attribute\">\r\n  <div class=\"cprice-area\"><span class=\"symbol\">&yen;"
        "</span><span class=\"c-price\">59.00</span></div>\r\n  <div class=\"sprice-area\"><span "
        "class=\"symbol\">&yen;</span><span class=\"s-price\">39.00</span></div>\r\n  <div "
        "class=\"sale-area\">已售：<span class=\"sale-num\">8</span>件</div>\r\n");
}

std::string shop_page_b() {
    return utf8_to_gbk(
        "<b class=\"ui-page-s-len\">1/3</b>\r\n" + std::string(28, ' ') +
        "<b title=\"上一页\" class=\"ui-page-s-prev\">&lt;</b>\r\n" + std::string(40, ' ') +
        "<a title=\"下一页\" class=\"ui-page-s-next\" href=\"?pageNo=2\">&gt;</a>\r\n"
        "<a href=\"//item.example/item.htm?id=21\" target=\"_blank\">\r\n  <img "
        "alt=\"帽子\" src=\"x.jpg\"></a>\r\n<a href=\"//item.example/item.htm?id=22\" "
        "target=\"_blank\"><img alt=\"鞋\"></a>");
}

TEST(ScriptRegex, ShopPatternsHaveTheirExactLengths) {
    EXPECT_EQ(shop_page_count_a().size(), 115u);
    EXPECT_EQ(shop_items_a().size(), 383u);
    EXPECT_EQ(shop_page_count_b().size(), 197u);
    EXPECT_EQ(kShopItemsB.size(), 43u);
}

struct BehaviourCase {
    const char* name;
    const char* pattern;
    std::string subject;
    ScriptRegexOptions options;
    Matches expected;
    bool needs_backtracking;
};

constexpr ScriptRegexOptions kDefault{};
constexpr ScriptRegexOptions kCaseSensitive{true, true, true};
constexpr ScriptRegexOptions kSingleLine{false, false, true};
constexpr ScriptRegexOptions kFirstOnly{false, true, false};

TEST(ScriptRegex, BothEnginesFollowTheScriptDialect) {
    const BehaviourCase cases[] = {
        {"ASCII case folds", "abc", "ABC aBc", kDefault, {{"ABC"}, {"aBc"}}, false},
        {"case-sensitive on request", "abc", "ABC abc", kCaseSensitive, {{"abc"}}, false},
        {"Cyrillic letters fold", "ж", "Ж", kDefault, {{"Ж"}}, false},
        {"full-width letters fold", "ａ", "Ａ", kDefault, {{"Ａ"}}, false},
        {"Greek letters fold", "σ+", "ΣσΣ", kDefault, {{"ΣσΣ"}}, false},
        {"caret after a line feed", "^b", "a\nb", kDefault, {{"b"}}, false},
        {"caret only at the start when single-line", "^b", "a\nb", kSingleLine, {}, false},
        {"dollar before a line feed", "a$", "a\nb", kDefault, {{"a"}}, false},
        {"dollar only at the end when single-line", "a$|b$", "a\nb", kSingleLine, {{"b"}}, false},
        {"only LF breaks a line", "a$", "a\r\nb", kDefault, {}, false},
        {"caret never at a resume point", "^a", "aaa", kDefault, {{"a"}}, false},
        {"dot stops at LF", "a.b", "a\nb", kDefault, {}, false},
        {"dot takes CR", "a.b", "a\rb", kDefault, {{"a\rb"}}, false},
        {"dot takes one Chinese character", "中.文", "中国文", kDefault, {{"中国文"}}, false},
        {"dot is one character, not one byte", "a..b", "a国b", kDefault, {}, false},
        {"first match only", "\\d", "1 2", kFirstOnly, {{"1"}}, false},
        {"group that did not take part", "a(b)?(c)", "ac", kDefault, {{"ac", "", "c"}}, false},
        {"lazy groups", "<(.*?)>", "<a><b>", kDefault, {{"<a>", "a"}, {"<b>", "b"}}, false},
        {"leftmost alternative first", "a|ab", "ab", kDefault, {{"a"}}, false},
        {"empty matches step one character",
         "x*",
         "a中b",
         kDefault,
         {{""}, {""}, {""}, {""}},
         false},
        {"empty pattern", "", "ab", kDefault, {{""}, {""}, {""}}, false},
        {"space class is ASCII with VT", "a\\sb", "a\vb a　b", kDefault, {{"a\vb"}}, false},
        {"non-space class", "\\S+", "ab\vcd", kDefault, {{"ab"}, {"cd"}}, false},
        {"digits are ASCII", "\\d+", "１23", kDefault, {{"23"}}, false},
        {"word characters are ASCII", "\\w+", "中ab_9é", kDefault, {{"ab_9"}}, false},
        {"word boundary next to Chinese", "\\bx", "中x ax", kDefault, {{"x"}}, false},
        {"no word boundary", "a\\B.", "ab a中", kDefault, {{"ab"}}, false},
        {"unicode escape", "\\u4E2D", "中", kDefault, {{"中"}}, false},
        {"hex escapes in a class", "[\\x41-\\x43]+", "ABCD", kCaseSensitive, {{"ABC"}}, false},
        {"escaped slash", "a\\/b", "a/b", kDefault, {{"a/b"}}, false},
        {"unknown escape is the letter", "\\y\\p", "yp", kDefault, {{"yp"}}, false},
        {"backspace in a class", "[\\b]", "a\bb", kDefault, {{"\b"}}, false},
        {"vertical tab escape", "\\v", "a\vb", kDefault, {{"\v"}}, false},
        {"control escape", "\\cJ", "a\nb", kDefault, {{"\n"}}, false},
        {"nul escape", "a\\0", std::string("a\0", 2), kDefault, {{std::string("a\0", 2)}}, false},
        {"negated empty class takes anything", "a[^]b", "a\nb", kDefault, {{"a\nb"}}, false},
        {"empty class takes nothing", "a[]b", "ab a]b", kDefault, {}, false},
        {"bracket inside a class", "[[\\]]+", "x[]y", kDefault, {{"[]"}}, false},
        {"Chinese in a class", "[中文]+", "说中文吧", kDefault, {{"中文"}}, false},
        {"back-reference", "(a)\\1", "aa ab", kDefault, {{"aa", "a"}}, true},
        {"back-reference ignores case", "(a)\\1", "aA", kDefault, {{"aA", "a"}}, true},
        {"look-ahead", "a(?=b)", "ab ac", kDefault, {{"a"}}, true},
        {"negative look-ahead", "a(?!b)", "ab ac", kDefault, {{"a"}}, true},
    };
    for (const BehaviourCase& c : cases) {
        for (ScriptRegexEngine engine : kEngines) {
            SCOPED_TRACE(testing::Message() << c.name << " on " << engine_name(engine));
            const auto compiled = script_pattern_compile(utf8_to_gbk(c.pattern), c.options, engine);
            if (c.needs_backtracking && engine == ScriptRegexEngine::linear) {
                EXPECT_EQ(compiled, nullptr);
                continue;
            }
            ASSERT_NE(compiled, nullptr);
            if (engine == ScriptRegexEngine::automatic) {
                EXPECT_EQ(script_pattern_engine(*compiled), c.needs_backtracking
                                                                ? ScriptRegexEngine::backtracking
                                                                : ScriptRegexEngine::linear);
            }
            const auto subject = std::make_shared<const Text>(utf8_to_gbk(c.subject));
            EXPECT_EQ(texts_of(script_pattern_match(*compiled, subject)), gbk_matches(c.expected));
        }
    }
}

TEST(ScriptRegex, InvalidPatternsAreRefusedByBothEngines) {
    const char* invalid[] = {"(ab", "a)", "[z", "*a", "a\\", "a{2,1}"};
    for (const char* pattern : invalid)
        for (ScriptRegexEngine engine : kEngines) {
            SCOPED_TRACE(testing::Message() << pattern << " on " << engine_name(engine));
            EXPECT_EQ(script_pattern_compile(pattern, kDefault, engine), nullptr);
        }
}

TEST(ScriptRegex, GbkSubjectsKeepTheirOwnBytes) {
    const struct {
        const char* name;
        std::string pattern;
        std::string subject;  // raw GBK, possibly invalid
        Matches expected;     // raw GBK
    } cases[] = {
        {"group around a bad byte",
         "(b+)",
         "a\xFF"
         "bb\xD6",
         {{"bb", "bb"}}},
        {"dot over a bad byte gives the byte back",
         "a.b",
         "a\xFF"
         "b",
         {{"a\xFF"
           "b"}}},
        {"lone lead byte at the end", "x.$", "x\xD6", {{"x\xD6"}}},
        // The bad byte is one character to the engines: no empty match between its UTF-8 bytes.
        {"no empty match inside a character",
         "\\B",
         "a\xFF"
         "b",
         {}},
        {"user-defined character", "\xAA\xA1+", "\xAA\xA1\xAA\xA1", {{"\xAA\xA1\xAA\xA1"}}},
        // 0x81 0x41 is one character whose second byte is "A": "a" must not find it.
        {"no folding into a trail byte", "a", "\x81\x41", {}},
        {"that character finds itself", "\x81\x41", "x\x81\x41", {{"\x81\x41"}}},
        {"captures after Chinese text",
         "id=(\\d+)",
         "\xD6\xD0 id=7 \xCE\xC4 id=8",
         {{"id=7", "7"}, {"id=8", "8"}}},
    };
    for (const auto& c : cases)
        for (ScriptRegexEngine engine :
             {ScriptRegexEngine::linear, ScriptRegexEngine::backtracking}) {
            SCOPED_TRACE(testing::Message() << c.name << " on " << engine_name(engine));
            const auto compiled = script_pattern_compile(c.pattern, kDefault, engine);
            ASSERT_NE(compiled, nullptr);
            const auto subject = std::make_shared<const Text>(c.subject);
            EXPECT_EQ(texts_of(script_pattern_match(*compiled, subject)), c.expected);
        }
}

// Both engines, and for case-sensitive patterns the runtime regex too, must give the same spans.
void expect_engines_agree(const std::string& pattern, const std::string& subject,
                          const ScriptRegexOptions& options, std::size_t expected_count) {
    const auto linear = script_pattern_compile(pattern, options, ScriptRegexEngine::linear);
    const auto backtracking =
        script_pattern_compile(pattern, options, ScriptRegexEngine::backtracking);
    ASSERT_NE(linear, nullptr);
    ASSERT_NE(backtracking, nullptr);
    const auto text = std::make_shared<const Text>(subject);
    const ScriptMatchSet a = script_pattern_match(*linear, text);
    const ScriptMatchSet b = script_pattern_match(*backtracking, text);
    EXPECT_EQ(a.count(), expected_count);
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.spans.size(), b.spans.size());
    for (std::size_t i = 0; i < a.spans.size(); ++i) {
        EXPECT_EQ(a.spans[i].begin, b.spans[i].begin) << "span " << i;
        EXPECT_EQ(a.spans[i].end, b.spans[i].end) << "span " << i;
    }
    if (!options.case_sensitive) return;
    regex re;
    ASSERT_TRUE(regex_create(re, pattern));
    const std::vector<SearchResult> results = regex_search_all(re, subject);
    ASSERT_EQ(results.size(), a.count());
    for (std::size_t m = 0; m < results.size(); ++m)
        for (std::size_t g = 0; g < a.width; ++g)
            EXPECT_EQ(search_result_text(results[m], subject, static_cast<int>(g)),
                      a.text(*a.span(m, g)))
                << "match " << m << " group " << g;
}

TEST(ScriptRegex, EnginesAgreeOnTheProgramsPatterns) {
    const std::string page = search_page(44, true);
    std::string one_missing = search_page(5, true);
    const std::size_t third = one_missing.find("\"user_id\"", one_missing.find("\"user_id\"") + 1);
    one_missing.replace(third, 9, "\"seller\"");
    std::string upper = search_page(3, true);
    upper.replace(upper.find("\"nid\""), 5, "\"NID\"");
    std::string broken_line = search_page(3, true);
    broken_line.insert(broken_line.find("\"detail_url\""), "\n");

    const struct {
        const char* name;
        std::string pattern;
        std::string subject;
        ScriptRegexOptions options;
        std::size_t count;
    } cases[] = {
        {"item pattern, normal page", kItemPattern, page, kDefault, 44},
        {"item pattern, one user_id missing", kItemPattern, one_missing, kDefault, 4},
        {"item pattern, upper-case key", kItemPattern, upper, kDefault, 3},
        {"item pattern, line break inside an item", kItemPattern, broken_line, kDefault, 2},
        {"item pattern, no user_id at all", kItemPattern, search_page(6, false), kDefault, 0},
        {"item pattern, case-sensitive", kItemPattern, upper, kCaseSensitive, 2},
        {"shop page count A", shop_page_count_a(), shop_page_a(), kCaseSensitive, 1},
        {"shop items A", shop_items_a(), shop_page_a(), kCaseSensitive, 2},
        {"shop page count B", shop_page_count_b(), shop_page_b(), kCaseSensitive, 1},
        {"shop items B", kShopItemsB, shop_page_b(), kCaseSensitive, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expect_engines_agree(c.pattern, c.subject, c.options, c.count);
    }
}

TEST(ScriptRegex, ItemPatternOverAFullResultPage) {
    std::vector<PageItem> items;
    const std::string page = search_page(44, true, &items);
    ASSERT_GT(page.size(), 190000u);
    ScriptRegex re;
    ASSERT_TRUE(re.execute(kItemPattern, page));
    ASSERT_EQ(re.match_count(), 44);
    EXPECT_EQ(re.submatch_count(), 3);
    for (int m = 1; m <= 44; ++m) {
        SCOPED_TRACE(m);
        const PageItem& item = items[static_cast<std::size_t>(m - 1)];
        EXPECT_EQ(re.submatch_text(m, 1), item.nid);
        EXPECT_EQ(re.submatch_text(m, 2), item.url);
        EXPECT_EQ(re.submatch_text(m, 3), item.user_id);
    }
}

TEST(ScriptRegex, BrokenTwoMegabytePageEndsQuickly) {
    const std::string page = search_page(460, false);
    ASSERT_GT(page.size(), 2000000u);
    ScriptRegex re;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(re.execute(kItemPattern, page));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(re.match_count(), 0);
    // A backtracking engine needs seconds here; the linear one a few milliseconds.
    EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST(ScriptRegex, ReadsCountFromOneAndGiveEmptyTextOutOfRange) {
    ScriptRegex re;
    const std::string subject = R"({"nid":"111","x":1},{"nid":"222"})";
    ASSERT_TRUE(re.execute(R"re("nid":"(\d+)")re", subject));
    EXPECT_EQ(re.match_count(), 2);
    const struct {
        int m, g;
        const char* text;
    } cases[] = {{1, 1, "111"}, {2, 1, "222"}, {3, 1, ""}, {0, 1, ""},
                 {1, 0, ""},    {1, 2, ""},    {-1, 1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.m << "," << c.g);
        EXPECT_EQ(re.submatch_text(c.m, c.g), c.text);
    }
    EXPECT_EQ(re.match_text(2), R"("nid":"222")");
    EXPECT_EQ(re.match_text(3), "");
    EXPECT_EQ(re.match_text(0), "");
    EXPECT_EQ(re.submatch_count(), 1);
}

TEST(ScriptRegex, ExecuteResultsForValidInvalidAndPlaceholderPatterns) {
    const std::string quote_word = utf8_to_gbk("#引号");
    const struct {
        const char* name;
        std::string pattern;
        std::string subject;
        bool quote_placeholder;
        bool result;
        int count;
        std::string first;
        std::string pattern_after;
    } cases[] = {
        {"valid, no match", "z+", "abc", false, true, 0, "", "z+"},
        {"invalid pattern", "(ab", "ab", false, false, 0, "", "(ab"},
        {"placeholder turned into quotes", quote_word + "(\\d+)" + quote_word, "x=\"42\"", true,
         true, 1, "\"42\"", "\"(\\d+)\""},
        {"placeholder left alone", quote_word + "(\\d+)" + quote_word, "x=\"42\"", false, true, 0,
         "", quote_word + "(\\d+)" + quote_word},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptRegex re;
        EXPECT_EQ(re.execute(c.pattern, c.subject, false, true, true, c.quote_placeholder),
                  c.result);
        EXPECT_EQ(re.match_count(), c.count);
        EXPECT_EQ(re.match_text(1), c.first);
        EXPECT_EQ(re.pattern(), c.pattern_after);
        if (c.count == 0) {
            EXPECT_EQ(re.submatch_count(), 0);
            EXPECT_EQ(re.submatch_text(1, 1), "");
        }
        if (!c.result) {
            EXPECT_EQ(re.replace("x"), "");
        }
    }
}

TEST(ScriptRegex, EachExecuteReplacesThePrevious) {
    ScriptRegex re;
    EXPECT_EQ(re.pattern(), "");
    EXPECT_EQ(re.match_count(), 0);
    ASSERT_TRUE(re.execute("a+", "aa b aaa"));
    EXPECT_EQ(re.match_count(), 2);
    // The same pattern over another subject, then with other options: nothing stale survives.
    ASSERT_TRUE(re.execute("a+", "A"));
    EXPECT_EQ(re.match_count(), 1);
    ASSERT_TRUE(re.execute("a+", "A", true));
    EXPECT_EQ(re.match_count(), 0);
    ASSERT_TRUE(re.execute("a+", "a a", false, true, false));
    EXPECT_EQ(re.match_count(), 1);
    EXPECT_FALSE(re.execute("(", "a a"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(re.match_text(1), "");
}

TEST(ScriptRegex, ReplaceFollowsTheScriptRules) {
    const struct {
        const char* pattern;
        const char* subject;
        bool global;
        const char* replacement;
        const char* expected;
    } cases[] = {
        {"(\\d+)", "a1b22", true, "<$1>", "a<1>b<22>"},
        {"(\\d+)", "a1b22", false, "<$1>", "a<1>b22"},
        {"b", "abc", true, "[$&$&]", "a[bb]c"},
        {"b", "abc", true, "$$", "a$c"},
        {"b", "abc", true, "[$`|$']", "a[a|c]c"},
        {"(b)", "abc", true, "$2$0$", "a$2$0$c"},  // no such group: literal
        {"(a)(b)?", "ac", true, "[$2]", "[]c"},    // a group that did not take part is empty
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij", true, "$10$1", "ja"},
        {"(a)", "a", true, "$10", "a0"},  // $1 then "0" when there is no group 10
        {"x*", "ab", true, "-", "-a-b-"},
        {"z", "abc", true, "-", "abc"},
        {"\xD6\xD0",
         "a\xD6\xD0"
         "b",
         true, "\xCE\xC4",
         "a\xCE\xC4"
         "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pattern << " -> " << c.replacement);
        ScriptRegex re;
        ASSERT_TRUE(re.execute(c.pattern, c.subject, false, true, c.global));
        EXPECT_EQ(re.replace(c.replacement), c.expected);
    }
    ScriptRegex never;
    EXPECT_EQ(never.replace("x"), "");
}

TEST(ScriptRegex, CopySharesResultsAndReleaseForgetsThem) {
    ScriptRegex re;
    ASSERT_TRUE(re.execute("(\\d)", "1 2 3"));
    ScriptRegex twin = re.copy();
    ASSERT_TRUE(re.execute("x", "y"));
    EXPECT_EQ(re.match_count(), 0);
    EXPECT_EQ(twin.match_count(), 3);
    EXPECT_EQ(twin.submatch_text(3, 1), "3");
    EXPECT_EQ(twin.pattern(), "(\\d)");
    EXPECT_EQ(twin.replace("<$1>"), "<1> <2> <3>");
    twin.release();
    EXPECT_EQ(twin.match_count(), 0);
    EXPECT_EQ(twin.pattern(), "");
    EXPECT_EQ(twin.submatch_text(1, 1), "");
    EXPECT_EQ(twin.replace("x"), "");
}

}  // namespace
