#include "runtime/regex.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "runtime/gbk.h"
#include "runtime/regex_linear_form.h"
#include "runtime/stop.h"

namespace {

struct Found {
    std::vector<std::string> whole;
    std::vector<int> starts;
};

Found search(const std::string& pattern, const std::string& text, bool case_sensitive = true) {
    regex re;
    EXPECT_TRUE(regex_create(re, pattern, case_sensitive)) << pattern;
    Found found;
    for (const SearchResult& r : regex_search_all(re, text)) {
        int start = -7;
        found.whole.push_back(search_result_text(r, text, 0, &start));
        found.starts.push_back(start);
    }
    return found;
}

TEST(RuntimeRegex, SearchesAllMatchesWithPerlRules) {
    const struct {
        const char* name;
        std::string pattern;
        std::string text;
        bool case_sensitive;
        std::vector<std::string> whole;
        std::vector<int> starts;
    } cases[] = {
        {"groups", "a(b)?c", "ac abc", true, {"ac", "abc"}, {0, 3}},
        {"case sensitive by default", "abc", "ABC", true, {}, {}},
        {"case-insensitive on request", "abc", "xABC", false, {"ABC"}, {1}},
        {"no overlap", "aa", "aaa", true, {"aa"}, {0}},
        {"dot takes a line break", "a.b", "a\nb a\rb", true, {"a\nb", "a\rb"}, {0, 4}},
        {"caret after LF and CR LF", "^x", "x\nx\r\nx", true, {"x", "x", "x"}, {0, 2, 5}},
        {"dollar before a break", "x$", "x\r\nyx", true, {"x", "x"}, {0, 4}},
        // Each search starts afresh at the end of the previous match, as at the start of a text.
        {"caret at every resume point", "^a", "aaab", true, {"a", "a", "a"}, {0, 1, 2}},
        {"word boundary at a resume point", "\\bb", "bbb", true, {"b", "b", "b"}, {0, 1, 2}},
        {"no boundary: never at either end", "\\B", " ab ", true, {""}, {2}},
        {"empty match at the first byte ends it", "x*", "abc", true, {""}, {0}},
        {"empty matches later step on", "a*", "aab", true, {"aa", "", ""}, {0, 2, 3}},
        {"empty look-ahead steps on", "(?=b)", "abab", true, {"", ""}, {1, 3}},
        // An empty match in front of a GBK character steps over the whole pair, not into it.
        {"step over a GBK pair", "(?=[\\x80-\\xff])", "a\xD6\xD0", true, {""}, {1}},
        {"GBK bytes as they are",
         "\xD6\xD0(.)",
         "\xD6\xD0"
         "a\xD6\xD0\xCE\xC4",
         true,
         {"\xD6\xD0"
          "a",
          "\xD6\xD0\xCE"},
         {0, 3}},
        {"empty text", "x*", "", true, {}, {}},
        {"no match", "z", "abc", true, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Found found = search(c.pattern, c.text, c.case_sensitive);
        EXPECT_EQ(found.whole, c.whole);
        EXPECT_EQ(found.starts, c.starts);
    }
}

TEST(RuntimeRegex, GroupTextsAndStarts) {
    regex re;
    ASSERT_TRUE(regex_create(re, "a(b)?(c)"));
    const std::string text = "ac abc";
    const std::vector<SearchResult> results = regex_search_all(re, text);
    ASSERT_EQ(results.size(), 2u);
    const struct {
        std::size_t result;
        int k;
        const char* text;
        int start;  // -7: left untouched
    } cases[] = {
        {0, 1, "", -7}, {1, 1, "b", 4}, {0, 0, "ac", 0}, {1, 0, "abc", 3},
        {1, 2, "c", 5}, {1, 3, "", -7}, {1, -1, "", -7}, {0, 99, "", -7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "result " << c.result << " k " << c.k);
        int start = -7;
        EXPECT_EQ(search_result_text(results[c.result], text, c.k, &start), c.text);
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(search_result_text(results[c.result], text, c.k), c.text);
    }
    ASSERT_EQ(results[0].spans.size(), 3u);  // one entry per group, taking part or not
    EXPECT_EQ(results[0].spans[1].matched, 0);
    EXPECT_EQ(results[1].spans[1].matched, 1);
    EXPECT_EQ(results[1].spans[1].length, 1);
}

TEST(RuntimeRegex, ResultReadAgainstAnotherTextNeverReadsOutOfBounds) {
    regex re;
    ASSERT_TRUE(regex_create(re, "(world)"));
    const std::vector<SearchResult> results = regex_search_all(re, "hello world");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(search_result_text(results[0], "hello wo", 1), "wo");
    EXPECT_EQ(search_result_text(results[0], "hi", 1), "");
    EXPECT_EQ(search_result_text(SearchResult{}, "hello world", 0), "");
}

TEST(RuntimeRegex, FailedCompileKeepsThePreviousExpression) {
    const char* invalid[] = {"(ab", "a)", "[z", "a{2,1}", "*a", "\\"};
    for (const char* pattern : invalid) {
        SCOPED_TRACE(pattern);
        regex fresh;
        EXPECT_FALSE(regex_create(fresh, pattern));
        EXPECT_TRUE(regex_search_all(fresh, "ab a) [z aa *a").empty());

        regex used;
        ASSERT_TRUE(regex_create(used, "b+"));
        EXPECT_FALSE(regex_create(used, pattern));
        const std::vector<SearchResult> results = regex_search_all(used, "abbc");
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(search_result_text(results[0], "abbc", 0), "bb");
    }
}

TEST(RuntimeRegex, PatternEndsAtItsFirstNul) {
    regex re;
    ASSERT_TRUE(regex_create(re, std::string("ab\0(", 4)));
    EXPECT_EQ(regex_search_all(re, "xab").size(), 1u);
}

TEST(RuntimeRegex, EngineGivingUpKeepsEarlierMatches) {
    // The second alternative backtracks exponentially over the run of a's, and Boost gives up.
    regex re;
    ASSERT_TRUE(regex_create(re, "b|(a|a|aa)*c"));
    const std::string text = "b" + std::string(60, 'a');
    const std::vector<SearchResult> results = regex_search_all(re, text);
    ASSERT_GE(results.size(), 1u);
    EXPECT_EQ(search_result_text(results[0], text, 0), "b");
    EXPECT_EQ(results.size(), 1u);
}

// What the linear engine is given, or nullopt where the backtracking engine must keep the pattern.
TEST(RuntimeRegexLinearForm, RewritesOnlyWhatMeansTheSameOnBothEngines) {
    const struct {
        std::string pattern;
        std::optional<std::string> form;
    } cases[] = {
        {"abc", "abc"},
        {"a.c", "a(?s:.)c"},
        {R"re(\s*x\S+)re", R"re([\t\n\v\f\r ]*x[^\t\n\v\f\r ]+)re"},
        {R"re((\d+)|\w*?|\b)re", R"re((\d+)|\w*?|\b)re"},
        {R"re(href="(.*?)")re", R"re(href="((?s:.)*?)")re"},
        {"(?:ab)?c??", "(?:ab)?c??"},
        {"a{2}b{1,3}c{4,}?", "a{2}b{1,3}c{4,}?"},
        {R"re([a-z0-9_\-][^\s"]x)re", R"re([a-z0-9_\-][^\t\n\v\f\r "]x)re"},
        {R"re(\.\*\(\[\\)re", R"re(\.\*\(\[\\)re"},
        {"\xB5\xEA\xC6\xCC", "\xB5\xEA\xC6\xCC"},  // GBK bytes as they are
        {"(a)?", "(a)?"},
        // Kept on the backtracking engine.
        {"^a", std::nullopt},
        {"a$", std::nullopt},
        {R"re((a)\1)re", std::nullopt},
        {"(?=a)", std::nullopt},
        {"(?i)a", std::nullopt},
        {"a*+", std::nullopt},
        {"a{,2}", std::nullopt},
        {"a{x", std::nullopt},
        {"(a)*", std::nullopt},
        {"(a|b)+", std::nullopt},
        {"(a){2}", std::nullopt},
        {"[[:alpha:]]", std::nullopt},
        {"[]a]", std::nullopt},
        {"[\x81-\xFE]", std::nullopt},
        {"[\xB0]", std::nullopt},
        {R"re([\S])re", std::nullopt},
        {R"re(\<a\>)re", std::nullopt},
        {R"re(a\B)re", std::nullopt},
        {R"re(\Aa\z)re", std::nullopt},
        {R"re(\Qa\E)re", std::nullopt},
        {R"re(a\\)re", R"re(a\\)re"},
        {R"re(a\)re", std::nullopt},
        // Branches beginning with the same high byte are folded wrongly by the linear engine.
        {"\xFE"
         "a|\xFE"
         "b",
         std::nullopt},
        {"x|y\xB0", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(regex_linear_form(c.pattern), c.form) << c.pattern;
}

TEST(RuntimeRegex, GbkWordsSharingAFirstByteAreEachFound) {
    regex re;
    ASSERT_TRUE(regex_create(re, utf8_to_gbk("淘宝|淘气")));
    const Text text = utf8_to_gbk("淘气的淘宝");
    const std::vector<SearchResult> found = regex_search_all(re, text);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(search_result_text(found[0], text, 0, nullptr), utf8_to_gbk("淘气"));
    EXPECT_EQ(search_result_text(found[1], text, 0, nullptr), utf8_to_gbk("淘宝"));
}

// Every match of pattern over text as the backtracking engine alone finds them.
std::vector<std::vector<std::string>> backtracking_matches(const std::string& pattern,
                                                           const std::string& text) {
    const boost::regex re(pattern, boost::regex::perl);
    std::vector<std::vector<std::string>> out;
    size_t pos = 0;
    boost::match_results<const char*> m;
    while (pos < text.size()) {
        if (!boost::regex_search(text.data() + pos, text.data() + text.size(), m, re)) break;
        std::vector<std::string> groups;
        for (size_t i = 0; i < m.size(); ++i)
            groups.push_back(
                m[i].matched ? std::to_string(m[i].first - text.data()) + ":" + m[i].str() : "-");
        out.push_back(groups);
        if (m[0].first == m[0].second) break;
        pos = static_cast<size_t>(m[0].second - text.data());
    }
    return out;
}

std::vector<std::vector<std::string>> runtime_matches(const std::string& pattern,
                                                      const std::string& text) {
    regex re;
    EXPECT_TRUE(regex_create(re, pattern)) << pattern;
    std::vector<std::vector<std::string>> out;
    for (const SearchResult& r : regex_search_all(re, text)) {
        std::vector<std::string> groups;
        for (size_t i = 0; i < r.spans.size(); ++i) {
            int start = 0;
            const Text group = search_result_text(r, text, static_cast<int>(i), &start);
            groups.push_back(r.spans[i].matched ? std::to_string(start) + ":" + group : "-");
        }
        out.push_back(groups);
        if (r.spans[0].length == 0) break;
    }
    return out;
}

// The rewritten expressions find the same matches and groups as the backtracking engine does,
// on the subjects where the two engines' defaults differ (line ends, \v, high bytes).
TEST(RuntimeRegexLinearForm, FindsWhatTheBacktrackingEngineFinds) {
    const std::vector<std::string> patterns = {
        R"re(href="(.*?)")re",
        R"re(<a\s*class="x"\s*href="(.*?)"\s*>(.*?)</a>(\s*<b>(.*?)</b>)?)re",
        R"re(a\sb|\S+?c)re",
        R"re((\d+)-(\w*))re",
        R"re(x(?:y|yz)(z?))re",
        R"re(\bid=([0-9a-f]{2,4}))re",
        "\xC9\xCF(.)",
        R"re([^"\s]+)re",
        R"re((a)?(b)??c)re",
    };
    const std::vector<std::string> subjects = {
        "href=\"one\" href=\"two\nlines\" href=\"",
        "<a class=\"x\" href=\"u\">t</a>\r\n<b>p</b> <a\vclass=\"x\"href=\"v\r\">\n</a>",
        "a\vb a\nb xxc \xC9\xCF\xD2\xBB\xC9\xCF\n",
        "12-ab_9 3- id=0f1 xid=ab id=abcde",
        "xyz xy xyzz",
        "abc c bc ac \x81\x82",
        "",
    };
    for (const std::string& pattern : patterns) {
        ASSERT_TRUE(regex_linear_form(pattern)) << pattern;
        for (const std::string& subject : subjects)
            EXPECT_EQ(runtime_matches(pattern, subject), backtracking_matches(pattern, subject))
                << pattern << " over " << subject;
    }
}

TEST(RuntimeRegex, StoppedRunSearchesNoMore) {
    regex linear, backtracking;
    ASSERT_TRUE(regex_create(linear, "a(b)"));
    ASSERT_TRUE(regex_create(backtracking, "^a(b)"));
    std::stop_source run;
    set_current_stop_token(run.get_token());
    EXPECT_EQ(regex_search_all(linear, "ab ab").size(), 2u);
    EXPECT_EQ(regex_search_all(backtracking, "ab").size(), 1u);
    run.request_stop();
    EXPECT_TRUE(regex_search_all(linear, "ab ab").empty());
    EXPECT_TRUE(regex_search_all(backtracking, "ab").empty());
    set_current_stop_token({});
}

}  // namespace
