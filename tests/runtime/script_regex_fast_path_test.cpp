// The fast path (PCRE2's JIT, the lowered text, the literal prefilter) against RE2 alone: every
// match and every capture must be the same, over generated pages and patterns and over the pages
// that make the fast path give up part-way.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/gbk.h"
#include "runtime/script_regex.h"

namespace {

// Pieces of pattern in the script dialect (UTF-8 here, GBK when compiled).
const char* const kPatternPieces[] = {
    "\"nid\":\"",
    "\"NID\":\"",
    "\"user_id\":\"",
    "\"Detail_Url\":\"",
    "(\\d+)",
    "(.*?)",
    ".*?",
    ".+?",
    "(.*)",
    "[a-z]+",
    "[A-Z]{2,3}",
    "[^\"]*",
    "\\s*",
    "\\S+?",
    "\\w+",
    "\\W",
    "\\b",
    "\\B",
    "^",
    "$",
    "(a|bc)",
    "(x)?",
    "\\d{1,3}",
    "[0-9a-f]+",
    "中文",
    "[中文]+",
    "ж",
    "[а-я]+",
    "Σ",
    "ａ",
    "\\x41",
    "\\u4E2D",
    "\\/",
    "\\.",
    ",",
    "(?:id|ID)",
    "[^]",
    "[\\b]",
    "\\v",
    "é",
    "(?i)k",
    "(?-i:Ab)",
    "(?P<n>\\d)",
    "(?s).",
    "K",
    "s",
    "[K-s]",
    "\\x{}",
};

// Pieces of page: the search page's JSON, mixed case, line breaks, GBK and bad bytes.
const char* const kPagePieces[] = {
    "\"nid\":\"52000\",",
    "\"NID\":\"7\",",
    "\"user_id\":\"1700\",",
    "\"detail_url\":\"//x/y\",",
    "\"User_ID\":\"9\",",
    "\"Detail_URL\":\"\",",
    "abc",
    "ABC",
    "aBc",
    "\n",
    "\r\n",
    " ",
    "\t",
    "中文",
    "连衣裙",
    "Ж",
    "жизнь",
    "σΣς",
    "Ａａ",
    "12345",
    "bc",
    "x",
    "id",
    "ID",
    "{",
    "}",
    "\"",
    "é",
    "K",
    "k",
    "ſ",
    "\v",
};

std::string pick(std::mt19937& random, const char* const* pieces, std::size_t count, int parts) {
    std::string out;
    std::uniform_int_distribution<std::size_t> which(0, count - 1);
    for (int i = 0; i < parts; ++i)
        out += pieces[which(random)];
    return out;
}

// Appends raw GBK bytes no UTF-8 text can give: a bad byte, a lone lead byte, a user-defined pair.
std::string with_raw_bytes(std::mt19937& random, std::string gbk) {
    const char* const raw[] = {"\xFF", "\x80", "\xAA\xA1", "\x81\x41", "\xD6"};
    if (random() % 4 == 0) gbk.insert(random() % (gbk.size() + 1), raw[random() % 5]);
    return gbk;
}

void expect_same_matches(const ScriptPattern& pattern, const std::shared_ptr<const Text>& subject) {
    const ScriptMatchSet fast =
        script_pattern_match(pattern, subject, ScriptMatchRoute::fast_first);
    const ScriptMatchSet linear =
        script_pattern_match(pattern, subject, ScriptMatchRoute::linear_only);
    ASSERT_EQ(fast.width, linear.width);
    ASSERT_EQ(fast.count(), linear.count());
    for (std::size_t i = 0; i < fast.spans.size(); ++i) {
        ASSERT_EQ(fast.spans[i].begin, linear.spans[i].begin) << "span " << i;
        ASSERT_EQ(fast.spans[i].end, linear.spans[i].end) << "span " << i;
    }
}

TEST(ScriptRegexFastPath, AgreesWithRe2OnGeneratedPagesAndPatterns) {
    std::mt19937 random(20261208);
    const ScriptRegexOptions options[] = {
        {false, true, true}, {true, true, true}, {false, false, true}, {false, true, false}};
    int compared = 0;
    for (int p = 0; p < 600; ++p) {
        const std::string pattern = utf8_to_gbk(pick(
            random, kPatternPieces, std::size(kPatternPieces), 1 + static_cast<int>(random() % 5)));
        const ScriptRegexOptions& option = options[random() % std::size(options)];
        const auto compiled = script_pattern_compile(pattern, option, ScriptRegexEngine::linear);
        if (!compiled) continue;  // RE2 refuses it: no fast path either
        for (int s = 0; s < 6; ++s) {
            const std::string page =
                with_raw_bytes(random, utf8_to_gbk(pick(random, kPagePieces, std::size(kPagePieces),
                                                        static_cast<int>(random() % 60))));
            SCOPED_TRACE(testing::Message() << "pattern " << gbk_to_utf8(pattern) << " options "
                                            << option.case_sensitive << option.multiline
                                            << option.global << " page " << gbk_to_utf8(page));
            expect_same_matches(*compiled, std::make_shared<const Text>(page));
            ++compared;
        }
    }
    EXPECT_GT(compared, 2000);
}

// One search result item; without user_id the item pattern has to look on to the next items.
std::string item(int i, bool user_id) {
    const std::string nid = std::to_string(520000 + i);
    std::string out = "{\"nid\":\"" + nid + "\",\"title\":\"" + utf8_to_gbk("连衣裙") +
                      "\",\"detail_url\":\"//item/" + nid + "\",\"pad\":\"" +
                      std::string(400, 'x') + "\",";
    if (user_id) out += "\"user_id\":\"" + std::to_string(1700 + i) + "\",";
    return out + "\"nick\":\"n\"},";
}

TEST(ScriptRegexFastPath, PagesThatStopTheFastPathStillGiveRe2sMatches) {
    const std::string item_pattern =
        R"re("nid":"(\d+)",.*?"detail_url":"(.*?)",.*?"user_id":"(\d+)")re";
    std::string good_then_bad;  // matches first, then a long tail that backtracks for ever
    for (int i = 0; i < 5; ++i)
        good_then_bad += item(i, true);
    for (int i = 5; i < 400; ++i)
        good_then_bad += item(i, false);
    good_then_bad += "\"user_id\":\"none\"";  // the literal is there, so no prefilter saves it
    std::string no_user_id;                   // the broken page: the literal is missing
    for (int i = 0; i < 400; ++i)
        no_user_id += item(i, false);
    std::string normal;
    for (int i = 0; i < 44; ++i)
        normal += item(i, true);
    std::string upper_keys = normal;  // caseless: the lowered text must still find these
    for (std::size_t at = upper_keys.find("\"nid\""); at != std::string::npos;
         at = upper_keys.find("\"nid\"", at + 1))
        upper_keys.replace(at, 5, "\"NiD\"");

    const struct {
        const char* name;
        std::string page;
        bool case_sensitive;
        std::size_t count;
        bool fast;  // the fast path ran to the end on its own
    } cases[] = {
        {"normal page", normal, false, 44, true},
        {"upper-case keys, caseless", upper_keys, false, 44, true},
        {"upper-case keys, case-sensitive", upper_keys, true, 0, true},
        {"no user_id anywhere", no_user_id, false, 0, true},
        {"matches, then a tail that trips the step limit", good_then_bad, false, 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ScriptRegexOptions options{c.case_sensitive, true, true};
        const auto compiled = script_pattern_compile(item_pattern, options);
        ASSERT_NE(compiled, nullptr);
        const auto subject = std::make_shared<const Text>(c.page);
        const ScriptMatchSet set = script_pattern_match(*compiled, subject);
        EXPECT_EQ(set.count(), c.count);
        EXPECT_EQ(set.fast, c.fast);
        expect_same_matches(*compiled, subject);
        if (c.count > 0) {
            EXPECT_EQ(set.text(*set.span(0, 1)), "520000");
            EXPECT_EQ(set.text(*set.span(c.count - 1, 3)), std::to_string(1700 + c.count - 1));
        }
    }
}

}  // namespace
