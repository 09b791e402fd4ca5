// Telling answers without their marker apart: throttle, block, network failure, unknown shape.
#include "harvest/answer_kind.h"

#include <gtest/gtest.h>

#include "runtime/gbk.h"

namespace {

struct Case {
    const char* name;
    Answer answer;
    AnswerKind kind;
};

TEST(AnswerKindTest, EachAnswerFallsIntoItsKind) {
    const std::string restricted = utf8_to_gbk("<title>访问受限</title>");
    const Case cases[] = {
        {"marker present",
         {"", R"(jsonp({"maxPage":3,"currentPageNum":1}))", 200, ""},
         AnswerKind::Marked},
        // The marker wins over anything else on the page, whatever the status.
        {"marker on an error status", {"", R"({"maxPage":1})", 500, ""}, AnswerKind::Marked},
        {"throttle",
         {"", R"(jsonp({"wait":5,"url":"//sec.taobao.test/query.htm"}))", 200, ""},
         AnswerKind::Throttle},
        {"redirect to a security host that could not be followed",
         {"", "", 0, "https://sec.taobao.com/query.htm?x=1"},
         AnswerKind::Block},
        {"redirect to a login host, followed",
         {"", "<html>login</html>", 200, "https://login.taobao.com/member/login.jhtml"},
         AnswerKind::Block},
        {"punish page reached",
         {"", "<html/>", 200, "http://rate.taobao.com/_____tmd_____/punish"},
         AnswerKind::Block},
        {"rgv587 flag",
         {"", R"({"rgv587_flag":"sm","url":"//sec.taobao.com/q"})", 200, ""},
         AnswerKind::Block},
        {"restricted page", {"", restricted, 200, ""}, AnswerKind::Block},
        {"403", {"", "denied", 403, ""}, AnswerKind::Block},
        {"429 without a body", {"", "", 429, ""}, AnswerKind::Block},
        {"502", {"", "bad gateway", 502, ""}, AnswerKind::Block},
        {"no answer at all", {"", "", 0, ""}, AnswerKind::NetworkFailure},
        {"cut-off transfer",
         {"", "jsonp({\"comm", 0, "http://rate.taobao.com/x"},
         AnswerKind::NetworkFailure},
        {"whole answer without a body", {"", "", 200, ""}, AnswerKind::NetworkFailure},
        {"whole answer of another shape",
         {"", R"(jsonp({"comments":null}))", 200, ""},
         AnswerKind::Unrecognised},
        {"404 page", {"", "not found", 404, ""}, AnswerKind::Unrecognised},
        // A redirect elsewhere (not a check) is judged by the page it led to.
        {"redirect to an ordinary page",
         {"", "<html/>", 200, "http://www.taobao.com/"},
         AnswerKind::Unrecognised},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(classify_answer(c.answer, "maxPage"), c.kind);
    }
}

TEST(AnswerKindTest, ChallengeAddressesAreLoginSecurityAndPunishPages) {
    const std::pair<const char*, bool> cases[] = {
        {"https://sec.taobao.com/query.htm", true},
        {"https://LOGIN.taobao.com/member/login.jhtml", true},
        {"http://login.tmall.com", true},
        {"https://rate.taobao.com/_____tmd_____/punish?x5secdata=1", true},
        {"https://rate.taobao.com/feedRateList.htm?sec.=1", false},
        {"https://www.taobao.com/login.htm", false},
        {"https://consec.taobao.com/", false},
        {"", false},
    };
    for (const auto& [url, challenge] : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(is_challenge_address(url), challenge);
    }
}

TEST(AnswerKindTest, TheChallengeComesFromTheRedirectElseFromTheBody) {
    const std::pair<Answer, std::string> cases[] = {
        {{"", "", 0, "https://sec.taobao.com/query.htm?a=1"},
         "https://sec.taobao.com/query.htm?a=1"},
        {{"", R"({"rgv587_flag":"sm","url":"//sec.taobao.com/query.htm?b=2"})", 200, ""},
         "https://sec.taobao.com/query.htm?b=2"},
        // An address in the body that is no check is not followed.
        {{"", R"({"rgv587_flag":"sm","url":"//www.example.com/"})", 200, ""}, ""},
        {{"", "denied", 403, ""}, ""},
        // Only web pages go to the login browser: no script, no local file.
        {{"", R"x({"rgv587_flag":"sm","url":"javascript://login.taobao.com/%0Aalert(1)"})x", 200,
          ""},
         ""},
        {{"", R"({"rgv587_flag":"sm","url":"file://login.taobao.com/etc/passwd"})", 200, ""}, ""},
        {{"", "", 0, "ftp://login.taobao.com/x"}, ""},
        {{"", R"({"rgv587_flag":"sm","url":"HTTPS://login.taobao.com/a"})", 200, ""},
         "HTTPS://login.taobao.com/a"},
    };
    for (const auto& [answer, expected] : cases) {
        SCOPED_TRACE(answer.body);
        EXPECT_EQ(challenge_address(answer), expected);
    }
}

}  // namespace
