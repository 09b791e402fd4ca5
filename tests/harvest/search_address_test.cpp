#include "harvest/search_address.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

#include "harvest/url_encode.h"

namespace {

TEST(UrlEncode, EncodesEveryByteOutsideTheSafeSet) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"a b", "a+b"},
        {"a*b~", "a%2Ab%7E"},
        {"AZaz09-._", "AZaz09-._"},
        {"/?&=+%#", "%2F%3F%26%3D%2B%25%23"},
        {"\x01\x7F\xFF", "%01%7F%FF"},
        {"\xC3\xAB", "%C3%AB"},
        // "中文" in GBK.
        {"\xD6\xD0\xCE\xC4", "%D6%D0%CE%C4"},
        // A two-byte character whose trail byte is a backslash.
        {"\x95\x5C", "%95%5C"},
        {"  ", "++"},
        {"'\"<>", "%27%22%3C%3E"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(url_encode(in), out) << in;
}

struct FilterCase {
    const char* rule;
    std::string_view low, high;
    bool mall_only;
    std::string_view filter;
};

TEST(PriceFilter, FollowsTheUpperPrice) {
    const FilterCase cases[] = {
        {"both empty", "", "", false, "&tab=all"},
        {"both empty, mall", "", "", true, "&tab=mall"},
        {"range", "10", "100", false, "&filter=reserve_price%5B10%2C100%5D&tab=all"},
        {"range, mall", "10", "100", true, "&filter=reserve_price%5B10%2C100%5D&tab=mall"},
        {"lower empty", "", "100", false, "&filter=reserve_price%5B%2C100%5D&tab=all"},
        {"upper below one", "0", "0.5", false, "&tab=all"},
        {"upper exactly one", "", "1", true, "&filter=reserve_price%5B%2C1%5D&tab=mall"},
        {"decimals kept as typed", "1.5", "2.9", false,
         "&filter=reserve_price%5B1.5%2C2.9%5D&tab=all"},
        {"equal prices", "50", "50", false, "&filter=reserve_price%5B50%2C50%5D&tab=all"},
        {"upper not a number", "10", "x", false, "&tab=all"},
        {"negative upper", "", "-5", false, "&tab=all"},
        {"lower cannot add a parameter", "10&x=1", "100", false,
         "&filter=reserve_price%5B10%26x%3D1%2C100%5D&tab=all"},
        {"upper with trailing space", "", "100 ", false,
         "&filter=reserve_price%5B%2C100+%5D&tab=all"},
    };
    for (const FilterCase& c : cases) {
        EXPECT_EQ(price_filter(c.low, c.high, c.mall_only), c.filter) << c.rule;
    }
}

TEST(SearchAddress, KeysComeInOrder) {
    const Text sales = "&sort=sale-desc";
    const Text base =
        search_base_address("s.example.com", "ab c", sales, price_filter("10", "100", true));
    EXPECT_EQ(base,
              "http://s.example.com/search?q=ab+c&sort=sale-desc"
              "&filter=reserve_price%5B10%2C100%5D&tab=mall");
    EXPECT_EQ(search_page_address(base, 2),
              "http://s.example.com/search?q=ab+c&sort=sale-desc"
              "&filter=reserve_price%5B10%2C100%5D&tab=mall&promote=0&bcoffset=-4&s=44");

    // Overall order: no sort key; no price filter.
    EXPECT_EQ(search_base_address("127.0.0.1:8080", "\xD6\xD0", "", price_filter("", "", false)),
              "http://127.0.0.1:8080/search?q=%D6%D0&tab=all");
    EXPECT_EQ(search_base_address("h", "", "", ""), "http://h/search?q=");
}

TEST(SearchAddress, PageOffsetsStepBy44) {
    const std::pair<int, std::string_view> cases[] = {
        {1, "b&promote=0&bcoffset=-4&s=0"},
        {2, "b&promote=0&bcoffset=-4&s=44"},
        {10, "b&promote=0&bcoffset=-4&s=396"},
        {100000000, "b&promote=0&bcoffset=-4&s=4399999956"},
        {2147483647, "b&promote=0&bcoffset=-4&s=94489280424"},
    };
    for (const auto& [page, address] : cases)
        EXPECT_EQ(search_page_address("b", page), address);
}

}  // namespace
