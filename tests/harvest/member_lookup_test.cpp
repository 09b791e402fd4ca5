#include "harvest/member_lookup.h"

#include <gtest/gtest.h>

#include "runtime/gbk.h"
#include "tests/support/marketplace.h"

namespace {

TEST(MemberLookup, AddressCarriesTheNamePercentEncoded) {
    HostSettings hosts;
    hosts.member_lookup_host = "members.example.test";
    const struct {
        Text name;
        const char* expected;
    } cases[] = {
        {"alice", "http://members.example.test/member/user_info.htm?nick=alice"},
        {"a b", "http://members.example.test/member/user_info.htm?nick=a+b"},
        {"x&y=z", "http://members.example.test/member/user_info.htm?nick=x%26y%3Dz"},
        {"tb_01.x-y", "http://members.example.test/member/user_info.htm?nick=tb_01.x-y"},
        // 毛衣 as GBK: every byte of a two-byte character is encoded.
        {"\xC3\xAB\xD2\xC2", "http://members.example.test/member/user_info.htm?nick=%C3%AB%D2%C2"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(member_lookup_address(hosts, c.name), c.expected) << c.name;
    EXPECT_EQ(member_lookup_address(HostSettings{}, "a"),
              "http://rate.taobao.com/member/user_info.htm?nick=a");
}

TEST(MemberLookup, IdIsTheDigitsBetweenItsMarkers) {
    const struct {
        const char* answer;
        const char* expected;
    } cases[] = {
        {R"({"success":true,"nick":"a","userNumId":"2200123456"})", "2200123456"},
        {R"({"userNumId":"7","x":1})", "7"},
        // The first ID counts.
        {R"({"userNumId":"11"},{"userNumId":"22"})", "11"},
        // Not found: no marker, an empty ID, no closing quote.
        {R"({"success":false,"nick":"a"})", ""},
        {R"({"userNumId":""})", ""},
        {R"({"userNumId":"123)", ""},
        {"", ""},
        // Not an ID: a number without quotes, letters, signs, spaces, a changed answer.
        {R"({"userNumId":123})", ""},
        {R"({"userNumId":"12a3"})", ""},
        {R"({"userNumId":"-5"})", ""},
        {R"({"userNumId":" 5"})", ""},
        {R"({"userNumId":"<html>login</html>"})", ""},
        // Twenty digits still pass, twenty-one do not.
        {R"({"userNumId":"12345678901234567890"})", "12345678901234567890"},
        {R"({"userNumId":"123456789012345678901"})", ""},
        // GBK text around the ID does not disturb the search.
        {"{\"nick\":\"\xC3\xAB\xD2\xC2\",\"userNumId\":\"99\"}", "99"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(member_id_from_answer(c.answer), c.expected) << c.answer;
}

class MemberLookupOnLoopback : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market_.ok());
        market_.add_member("alice", "1001");
        market_.add_member("bob smith", "1002");
        market_.add_member(utf8_to_gbk("小明"), "1003");
    }

    Marketplace market_;
    ProxyEnvironment proxy_{market_};
    HostSettings hosts_ = Marketplace::hosts();
};

TEST_F(MemberLookupOnLoopback, KnownNamesGiveTheirIdsUnknownOnesNothing) {
    const struct {
        Text name;
        const char* expected;
    } cases[] = {
        {"alice", "1001"}, {"bob smith", "1002"}, {utf8_to_gbk("小明"), "1003"},
        {"carol", ""},     {"Alice", ""},  // names are exact
    };
    for (const auto& c : cases)
        EXPECT_EQ(lookup_member_id(hosts_, c.name), c.expected) << c.name;
    const auto urls = market_.urls();
    ASSERT_EQ(urls.size(), std::size(cases));
    EXPECT_EQ(urls[2], "http://rate.taobao.test/member/user_info.htm?nick=%D0%A1%C3%F7");
}

TEST_F(MemberLookupOnLoopback, EmptyNameAsksNothing) {
    EXPECT_EQ(lookup_member_id(hosts_, ""), "");
    EXPECT_EQ(market_.request_count(), 0u);
}

TEST_F(MemberLookupOnLoopback, OtherAnswersAtTheAddressAreNotIds) {
    const struct {
        const char* name;
        const char* body;
    } cases[] = {
        {"login", "<html><form action=\"//login.taobao.test/member/login.jhtml\"></form></html>"},
        {"throttled", R"({"wait":5,"url":"//sec.taobao.test/query.htm"})"},
        {"odd", R"({"userNumId":"n/a"})"},
    };
    for (const auto& c : cases) {
        market_.set_answer(member_lookup_address(hosts_, c.name), c.body);
        EXPECT_EQ(lookup_member_id(hosts_, c.name), "") << c.name;
    }
}

}  // namespace
