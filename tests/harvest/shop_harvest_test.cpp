#include "harvest/shop_harvest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/regex.h"
#include "runtime/stop.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"

namespace {

using Texts = std::vector<Text>;

// The four listing patterns written out byte by byte, GBK: 上一页 C9CF D2BB D2B3, 下一页 CFC2 D2BB
// D2B3, 已售： D2D1 CADB A3BA, 件 BCFE.
const std::string kP1 =
    "<span class=\"page-info\">1/([0-9]*?)</span>\\s*<a\\s*class=\"disable\"\\s*>"
    "\xC9\xCF\xD2\xBB\xD2\xB3</a>\\s*<a\\s*href=\"(.*?)2\"\\s*>\xCF\xC2\xD2\xBB\xD2\xB3</a>\r";
const std::string kI1 =
    "<a\\s*class=\"item-name\"\\s*href=\"(.*?)\"\\s*target=\"_blank\">(.*?)</a>\\s*<div\\s*"
    "class=\"attribute\">\\s*<div\\s*class=\"cprice-area\"><span class=\"symbol\">&yen;</span>"
    "<span class=\"c-price\">(.*?)</span></div>(\\s*<div\\s*class=\"sprice-area\"><span "
    "class=\"symbol\">&yen;</span><span\\s*class=\"s-price\">(.*?)</span></div>)?\r\\s*<div\\s*"
    "class=\"sale-area\">\xD2\xD1\xCA\xDB\xA3\xBA<span class=\"sale-num\">(.*?)</span>\xBC\xFE"
    "</div>\r";
const std::string kP2 =
    "<b class=\"ui-page-s-len\">1/(\\d+)</b>\r\n" + std::string(28, ' ') +
    "<b title=\"\xC9\xCF\xD2\xBB\xD2\xB3\" class=\"ui-page-s-prev\">&lt;</b>\r\n" +
    std::string(40, ' ') + "<a title=\"\xCF\xC2\xD2\xBB\xD2\xB3\" class=\"ui-page-s-next\"";
const std::string kI2 = "href=\"(\\S*?)\" target=\"_blank\">\\s*<img alt=\"";

TEST(ShopPatterns, AreTheListingMarkupByteForByte) {
    struct Case {
        const char* name;
        const Text& pattern;
        const std::string& expected;
        size_t length;
    } cases[] = {
        {"P1", shop_patterns(ShopKind::A).page_count, kP1, 115},
        {"I1", shop_patterns(ShopKind::A).items, kI1, 383},
        {"P2", shop_patterns(ShopKind::B).page_count, kP2, 197},
        {"I2", shop_patterns(ShopKind::B).items, kI2, 43},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.pattern.size(), c.length) << c.name;
        EXPECT_EQ(c.pattern, c.expected) << c.name;
        regex re;
        EXPECT_TRUE(regex_create(re, c.pattern)) << c.name;
    }
}

TEST(ShopPatterns, NeedTheLineEndsTheyHold) {
    // A kind A listing with LF-only line ends matches neither of its patterns.
    const std::string crlf =
        "<span class=\"page-info\">1/4</span>\r\n<a class=\"disable\" >\xC9\xCF\xD2\xBB\xD2\xB3"
        "</a>\r\n<a href=\"//s/search.htm?pageNo=2\" >\xCF\xC2\xD2\xBB\xD2\xB3</a>\r\n";
    std::string lf = crlf;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    regex re;
    ASSERT_TRUE(regex_create(re, shop_patterns(ShopKind::A).page_count));
    const auto found = regex_search_all(re, crlf);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(search_result_text(found[0], crlf, 1), "4");
    EXPECT_EQ(search_result_text(found[0], crlf, 2), "//s/search.htm?pageNo=");
    EXPECT_TRUE(regex_search_all(re, lf).empty());
}

// A page of nothing but unfinished item links makes a backtracking search try every link start
// against the whole rest of the page: seconds at a third of a megabyte, growing with its square.
// Each pattern reads a megabyte of it in one pass. Measured in this thread's processor time, so
// other work on the machine does not count; the passes take a few milliseconds.
TEST(ShopPatterns, HostilePageCostsOnePass) {
    std::string page;
    const std::string piece = "<a class=\"item-name\" href=\"x";
    while (page.size() < (1u << 20))
        page += piece;
    const struct {
        const char* name;
        const Text& pattern;
    } cases[] = {
        {"P1", shop_patterns(ShopKind::A).page_count},
        {"I1", shop_patterns(ShopKind::A).items},
        {"P2", shop_patterns(ShopKind::B).page_count},
        {"I2", shop_patterns(ShopKind::B).items},
    };
    for (const auto& c : cases) {
        regex re;
        ASSERT_TRUE(regex_create(re, c.pattern)) << c.name;
        const std::clock_t start = std::clock();
        EXPECT_TRUE(regex_search_all(re, page).empty()) << c.name;
        const double ms = 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        std::printf("%s over 1 MiB of unfinished links: %.1f ms\n", c.name, ms);
        EXPECT_LT(ms, 100.0) << c.name;
    }
}

struct BaseCase {
    const char* shop;
    const char* base;
    ShopKind kind;
};

TEST(ShopAddress, DropsThePathAndPicksTheKind) {
    const BaseCase cases[] = {
        {"http://shopa.taobao.test/", "http://shopa.taobao.test/", ShopKind::A},
        {"http://shopa.taobao.test/shop/view_shop.htm?id=5", "http://shopa.taobao.test/",
         ShopKind::A},
        {"http://shopb.example.test/index.htm", "http://shopb.example.test/", ShopKind::B},
        // No "/" after the host, or no "http://": used whole.
        {"http://shopa.taobao.test", "http://shopa.taobao.test/", ShopKind::A},
        {"shopb.example.test", "shopb.example.test/", ShopKind::B},
        {"https://shopa.taobao.test/x", "https://shopa.taobao.test/x/", ShopKind::A},
        // The kind is decided on the base, after the path is gone.
        {"http://x.example.test/?from=a.taobao.test", "http://x.example.test/", ShopKind::B},
        {"", "/", ShopKind::B},
    };
    const HostSettings hosts = Marketplace::hosts();
    for (const BaseCase& c : cases) {
        EXPECT_EQ(shop_base_address(c.shop), c.base) << c.shop;
        EXPECT_EQ(shop_kind(shop_base_address(c.shop), hosts), c.kind) << c.shop;
    }
    EXPECT_EQ(shop_listing_path(ShopKind::A), "search.htm?search=y&pageNo=");
    EXPECT_EQ(shop_listing_path(ShopKind::B), "search.htm?scene=taobao_shop&pageNo=");
}

// Records every wait; a wait stands for time in which one running unit finishes.
class UnitSleeper final : public Sleeper {
public:
    explicit UnitSleeper(ProgramValues& values) : values_(values) {}
    void wait(int ms) override {
        waits.push_back(ms);
        if (values_.RunningUnits.load() > 0) values_.RunningUnits.fetch_sub(1);
    }
    std::vector<int> waits;

private:
    ProgramValues& values_;
};

// Keeps every page handed to it, with the number of entries 列表框_页面 held at that moment.
class PageSink final : public AnswerSink {
public:
    explicit PageSink(Window& window) : window_(window) {}
    struct Page {
        std::string service, address, body;
        int page = 0;
        std::vector<HarvestedItem> items;
        int listed_then = 0;
    };
    void page(const HarvestedPage& p) override {
        pages.push_back({std::string(p.service), std::string(p.address), std::string(p.body),
                         p.page, p.items, window_.item_count("列表框_页面")});
    }
    void url_claimed(int) override {}
    void url_done(int) override {}
    std::vector<Page> pages;

private:
    Window& window_;
};

class ShopHarvest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(market.ok()); }

    MarketShop shop(const char* host, bool kind_a, int pages, bool block) {
        MarketShop s;
        s.host = host;
        s.kind_a = kind_a;
        s.pages = pages;
        s.page_count_block = block;
        market.add_shop(s);
        return s;
    }
    void shops(const Texts& addresses) {
        window.clear_items("列表框_店铺");
        for (const Text& a : addresses)
            window.add_item("列表框_店铺", a);
    }
    static std::string listing(const std::string& base, bool kind_a, int page) {
        return base +
               (kind_a ? "search.htm?search=y&pageNo=" : "search.htm?scene=taobao_shop&pageNo=") +
               std::to_string(page);
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
    HostSettings hosts = Marketplace::hosts();
    MemoryWindow window;
    ProgramValues values;
    UnitSleeper sleeper{values};
    HarvestContext ctx{window, values, hosts, sleeper};
};

TEST_F(ShopHarvest, ReadsEachShopOfEitherKind) {
    const MarketShop a = shop("shopa.taobao.test", true, 1, false);
    const MarketShop b = shop("shopb.example.test", false, 3, true);
    const MarketShop a2 = shop("shopc.taobao.test", true, 2, true);
    shops({"http://shopa.taobao.test/shop/view_shop.htm?user_number_id=5",
           "http://shopb.example.test", "shopb.example.test", "http://shopc.taobao.test/"});
    window.add_item("列表框_页面", "kept from before");

    shop_item_harvest(ctx);

    const std::string sa = "http://shopa.taobao.test/", sb = "http://shopb.example.test/",
                      sc = "http://shopc.taobao.test/";
    // A without a page count: its first page only. B "1/3": page 1 twice, then 2 and 3. The
    // address without "http://" is no address to fetch. C "1/2": page 1 twice, then 2.
    EXPECT_EQ(market.urls(), (std::vector<std::string>{
                                 listing(sa, true, 1), listing(sb, false, 1), listing(sb, false, 1),
                                 listing(sb, false, 2), listing(sb, false, 3), listing(sc, true, 1),
                                 listing(sc, true, 1), listing(sc, true, 2)}));
    Texts expected{"kept from before"};
    for (const auto& [s, pages] : {std::pair{a, 1}, std::pair{b, 3}, std::pair{a2, 2}})
        for (int p = 1; p <= pages; ++p)
            for (const std::string& link : s.links(p))
                expected.push_back(link);
    EXPECT_EQ(window.items("列表框_页面"), expected);

    // The entry count follows every entry added, one-page shops included.
    Texts counts;
    for (int n = 2; n <= static_cast<int>(expected.size()); ++n)
        counts.push_back(std::to_string(n));
    EXPECT_EQ(window.writes_to("pane:5"), counts);
}

// Each listing page with entries reaches the sink before any of its entries is listed, numbered
// with the rows (from 1) they get in 列表框_页面, after what the list held before.
TEST_F(ShopHarvest, HandsEveryListingPageToTheSinkBeforeListingIt) {
    const MarketShop a = shop("shopa.taobao.test", true, 1, false);
    const MarketShop b = shop("shopb.example.test", false, 3, true);
    shops({"http://shopa.taobao.test/", "http://shopb.example.test/x.htm"});
    window.add_item("列表框_页面", "kept from before");
    PageSink sink(window);
    ctx.sink = &sink;

    shop_item_harvest(ctx);

    const std::string sa = "http://shopa.taobao.test/", sb = "http://shopb.example.test/";
    // The first page of B is asked twice (its page count, then its entries) but stored once.
    const struct {
        std::string address;
        int page;
        std::vector<std::string> links;
    } expected[] = {{listing(sa, true, 1), 1, a.links(1)},
                    {listing(sb, false, 1), 1, b.links(1)},
                    {listing(sb, false, 2), 2, b.links(2)},
                    {listing(sb, false, 3), 3, b.links(3)}};
    ASSERT_EQ(sink.pages.size(), std::size(expected));
    int row = 1;
    for (size_t i = 0; i < sink.pages.size(); ++i) {
        const PageSink::Page& got = sink.pages[i];
        SCOPED_TRACE(got.address);
        EXPECT_EQ(got.service, "shop");
        EXPECT_EQ(got.address, expected[i].address);
        EXPECT_EQ(got.page, expected[i].page);
        EXPECT_EQ(got.listed_then, row) << "entries listed before the sink had them";
        ASSERT_EQ(got.items.size(), expected[i].links.size());
        for (size_t k = 0; k < got.items.size(); ++k) {
            const HarvestedItem& item = got.items[k];
            EXPECT_EQ(item.serial, ++row);
            EXPECT_EQ(item.address, expected[i].links[k]);
            EXPECT_EQ(window.item("列表框_页面", item.serial - 1), item.address);
            EXPECT_TRUE(item.item_id.empty() && item.shop_id.empty());
            EXPECT_NE(got.body.find(item.address), std::string::npos) << "not the page's body";
        }
    }
    EXPECT_EQ(window.item_count("列表框_页面"), row);
}

TEST_F(ShopHarvest, ARunAgainAddsEveryLinkOnceMore) {
    const MarketShop b = shop("shopb.example.test", false, 2, true);
    shops({"http://shopb.example.test/"});
    shop_item_harvest(ctx);
    shop_item_harvest(ctx);
    Texts once = b.links(1);
    for (const std::string& link : b.links(2))
        once.push_back(link);
    Texts twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(window.items("列表框_页面"), twice);
    EXPECT_EQ(market.request_count(), 6u);
    EXPECT_EQ(window.items("列表框_店铺"), Texts{"http://shopb.example.test/"});
}

TEST_F(ShopHarvest, PagesThatDoNotMatchAddNothing) {
    const std::string crlf = "\r\n";
    const std::string item_a =
        "<a class=\"item-name\" href=\"//item\" target=\"_blank\">n</a>" + crlf +
        "<div class=\"attribute\">" + crlf +
        "<div class=\"cprice-area\"><span class=\"symbol\">&yen;</span><span "
        "class=\"c-price\">1</span></div>" +
        crlf +
        "<div class=\"sale-area\">\xD2\xD1\xCA\xDB\xA3\xBA<span class=\"sale-num\">1</span>"
        "\xBC\xFE</div>" +
        crlf;
    const auto without_cr = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    };
    struct Case {
        const char* rule;
        std::string shop;
        std::string first_page;  // empty: the shop is unknown (an error page)
    } cases[] = {
        {"error page", "http://shopz.example.test/", ""},
        // The count group may be empty; no page is read, not even the items of the first.
        {"page count that is no number", "http://shopz.taobao.test/",
         "<span class=\"page-info\">1/</span>" + crlf +
             "<a class=\"disable\" >\xC9\xCF\xD2\xBB\xD2\xB3</a>" + crlf +
             "<a href=\"//shopz/search.htm?search=y&pageNo=2\" >\xCF\xC2\xD2\xBB\xD2\xB3</a>" +
             crlf + item_a},
        {"other markup", "http://shopz.example.test/",
         "<a href=\"//item\" target=\"_self\"><img alt=\"x\"></a>"},
        {"LF line ends", "http://shopz.taobao.test/", without_cr(item_a)},
    };
    PageSink sink(window);
    ctx.sink = &sink;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        window.clear_items("列表框_页面");
        market.clear_urls();
        shops({c.shop});
        const bool kind_a = c.shop.find(".taobao.test") != std::string::npos;
        if (!c.first_page.empty()) market.set_answer(listing(c.shop, kind_a, 1), c.first_page);
        shop_item_harvest(ctx);
        EXPECT_EQ(market.urls(), std::vector<std::string>{listing(c.shop, kind_a, 1)});
        EXPECT_TRUE(window.items("列表框_页面").empty());
        EXPECT_TRUE(sink.pages.empty()) << "a page without entries was stored";
    }
    // The same item markup is taken when no page count stands before it.
    market.set_answer(listing("http://shopz.taobao.test/", true, 1), item_a);
    shop_item_harvest(ctx);
    EXPECT_EQ(window.items("列表框_页面"), Texts{"//item"});
    ASSERT_EQ(sink.pages.size(), 1u);
    EXPECT_EQ(sink.pages[0].address, listing("http://shopz.taobao.test/", true, 1));
}

TEST_F(ShopHarvest, HandsOverEveryEntryWithinTheThreadCount) {
    // Units never end by themselves here; each 1000 ms sleep lets one of them end.
    struct Case {
        int threads;
        size_t entries;
        size_t sleeps;
    } cases[] = {{1, 4, 3}, {2, 5, 3}, {3, 2, 0}, {0, 3, 2}, {2, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threads);
        window.clear_items("列表框_页面");
        for (size_t i = 0; i < c.entries; ++i)
            window.add_item("列表框_页面", "entry" + std::to_string(i));
        shops({});
        values.ThreadCount = c.threads;
        values.RunningUnits = 0;
        sleeper.waits.clear();
        Texts handed;
        int busiest = 0;
        market.clear_urls();

        shop_item_harvest(ctx, [&](HarvestContext& h, const Text& entry) {
            handed.push_back(entry);
            busiest = std::max(busiest, h.values.RunningUnits.load());
        });

        EXPECT_EQ(market.request_count(), 0u);
        EXPECT_EQ(handed, window.items("列表框_页面"));
        EXPECT_LE(busiest, std::max(c.threads, 1));
        EXPECT_EQ(sleeper.waits, std::vector<int>(c.sleeps, 1000));
    }
    // The unit that does no work yet gives its count back at once.
    window.add_item("列表框_页面", "one more");
    values.ThreadCount = 1;
    values.RunningUnits = 0;
    sleeper.waits.clear();
    shop_item_harvest(ctx);
    EXPECT_EQ(values.RunningUnits.load(), 0);
    EXPECT_TRUE(sleeper.waits.empty());
}

TEST_F(ShopHarvest, AStoppedRunAsksForNoFurtherPage) {
    const MarketShop b = shop("shopb.example.test", false, 3, true);
    shops({"http://shopb.example.test/", "http://shopb.example.test/"});
    std::stop_source stop;
    market.set_before_answer([&](const std::string& url) {
        if (url == listing("http://shopb.example.test/", false, 2)) stop.request_stop();
    });
    std::thread worker([&] {
        set_current_stop_token(stop.get_token());
        shop_item_harvest(ctx);
    });
    worker.join();
    market.set_before_answer(nullptr);
    EXPECT_EQ(market.request_count(), 3u);
    EXPECT_EQ(window.items("列表框_页面"), b.links(1));
}

}  // namespace
