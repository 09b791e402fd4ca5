#include "harvest/review_harvest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"
#include "tests/support/recording_sleeper.h"

namespace {

using Kind = MarketItem::Kind;
using Rows = std::vector<std::vector<Text>>;

MarketItem item(std::string id, Kind kind, std::vector<std::vector<std::string>> pages) {
    MarketItem i;
    i.id = std::move(id);
    i.seller = "5" + i.id;
    i.spu = "7" + i.id;
    i.kind = kind;
    i.pages = std::move(pages);
    return i;
}

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string summary_url(const MarketItem& i) {
    return "http://dsr-rate.tmall.test/list_dsr_info.htm?itemId=" + i.id + "&spuId=" + i.spu +
           "&sellerId=" + i.seller + "&_ksTS=1431775557951_177&callback=jsonp178";
}

std::string counter_url(const std::string& id) {
    return "http://count.taobao.test/counter3?_ksTS=1431778801662_128&callback=jsonp129&keys=SM_"
           "368_sm-669043267,ICE_3_feedcount-" +
           id + ",SM_368_dsr-669043267";
}

std::string marketplace_review_url(const std::string& user, const std::string& id, int page) {
    return "http://rate.taobao.test/feedRateList.htm?_ksTS=1432983822760_2212&callback=jsonp_"
           "reviews_list&userNumId=" +
           user + "&auctionNumId=" + id + "&siteID=4&currentPageNum=" + std::to_string(page) +
           "&rateType=3&orderType=sort_weight&showContent=1&attribute=&ua=";
}

// A mall review address: the fixed part exactly, then a time within [from, to] and two runs of
// four digits.
testing::AssertionResult is_mall_review_url(const std::string& url, const MarketItem& i, int page,
                                            long long from, long long to) {
    const std::string fixed =
        "http://rate.tmall.test/list_detail_rate.htm?itemId=" + i.id + "&spuId=" + i.spu +
        "&sellerId=" + i.seller + "&order=3&currentPage=" + std::to_string(page) +
        "&append=0&content=0&tagId=&posi=&picture=1&ua=&isg=&itemPropertyId=&itemPropertyIndex=&"
        "userPropertyId=&userPropertyIndex=&_ksTS=";
    if (url.compare(0, fixed.size(), fixed) != 0)
        return testing::AssertionFailure() << url << "\n does not begin with\n" << fixed;
    static const std::regex tail("(\\d+)_\\d{4}&callback=jsonp\\d{4}");
    std::smatch m;
    const std::string rest = url.substr(fixed.size());
    if (!std::regex_match(rest, m, tail))
        return testing::AssertionFailure() << "bad time / digits part: " << rest;
    const long long t = std::stoll(m[1]);
    if (t < from || t > to) return testing::AssertionFailure() << "time " << t << " out of range";
    return testing::AssertionSuccess();
}

Rows numbered(const std::vector<std::string>& ids, int first = 1) {
    Rows rows;
    for (const auto& id : ids)
        rows.push_back({std::to_string(first++), id});
    return rows;
}

class ReviewHarvest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        register_message_box([this](const Text& text, int flags, const Text& caption) {
            std::lock_guard lock(mutex);
            boxes.push_back({text, caption, flags});
            return 0;
        });
    }
    void TearDown() override { register_message_box({}); }

    void add_urls(const std::vector<std::string>& urls) {
        Rows rows;
        for (const auto& u : urls)
            rows.push_back({u});
        window.append_rows(controls::kUrlList, rows);
    }
    void run() {
        values.ReviewRunFlag = 1;
        review_worker(ctx);
    }
    std::vector<Text> titles() { return window.writes_to("title"); }

    struct Box {
        Text text, caption;
        int flags;
    };
    Marketplace market;
    ProxyEnvironment proxy{market};
    MemoryWindow window;
    ProgramValues values;
    HostSettings hosts = Marketplace::hosts();
    RecordingSleeper sleeper;
    HarvestContext ctx{window, values, hosts, sleeper};
    std::mutex mutex;
    std::vector<Box> boxes;
    const Text running = utf8_to_gbk("正常运行...");
    const Text delaying = utf8_to_gbk("延时6分钟获取");
};

TEST_F(ReviewHarvest, MixedListRequestsEveryPageInOrder) {
    const MarketItem mall = item("1001", Kind::Mall, {{"m1", "m2"}, {"m3"}});
    const MarketItem shop = item("2002", Kind::Marketplace, {{"t1"}, {"t2", "t3"}, {"t4"}});
    const MarketItem mall2 = item("3003", Kind::Mall, {{"n1"}});
    for (const auto& i : {mall, shop, mall2})
        market.add_item(i);
    add_urls({mall.url(), shop.url() + "&ns=1", mall2.url()});

    const long long from = now_ms();
    run();
    const long long to = now_ms();

    const auto urls = market.urls();
    ASSERT_EQ(urls.size(), 12u);
    EXPECT_EQ(urls[0], mall.url());
    EXPECT_EQ(urls[1], summary_url(mall));
    EXPECT_TRUE(is_mall_review_url(urls[2], mall, 1, from, to));
    EXPECT_TRUE(is_mall_review_url(urls[3], mall, 2, from, to));
    EXPECT_EQ(urls[4], shop.url() + "&ns=1");
    EXPECT_EQ(urls[5], counter_url("2002"));
    for (int page = 1; page <= 3; ++page)
        EXPECT_EQ(urls[5 + page], marketplace_review_url("52002", "2002", page));
    EXPECT_EQ(urls[9], mall2.url());
    EXPECT_EQ(urls[10], summary_url(mall2));
    EXPECT_TRUE(is_mall_review_url(urls[11], mall2, 1, from, to));

    EXPECT_EQ(window.rows(controls::kBuyerList),
              numbered({"m1", "m2", "m3", "t1", "t2", "t3", "t4", "n1"}));
    EXPECT_EQ(values.BuyerCounter.load(), 8);
    EXPECT_EQ(values.ReviewCursor.load(), 3);
    EXPECT_EQ(
        window.writes_to(controls::kReviewUrlLabel),
        (std::vector<Text>{utf8_to_gbk("正在获取第1个URL内容"), utf8_to_gbk("正在获取第2个URL内容"),
                           utf8_to_gbk("正在获取第3个URL内容")}));
    EXPECT_EQ(window.writes_to(controls::kReviewTotalLabel), (std::vector<Text>{"3", "4", "1"}));
    EXPECT_EQ(window.writes_to(controls::kReviewPageLabel),
              (std::vector<Text>{"1", "2", "1", "2", "3", "1"}));
    // After each mall item, after each marketplace page.
    EXPECT_EQ(window.writes_to(controls::kBuyerCountLabel),
              (std::vector<Text>{"3", "4", "6", "7", "8"}));
    EXPECT_EQ(titles(), std::vector<Text>(6, running));
    EXPECT_TRUE(sleeper.waits().empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ReviewHarvest, NumberingContinuesAcrossStartsAndClearedLists) {
    market.add_item(item("11", Kind::Marketplace, {{"a", "b", "c"}, {"d"}}));
    market.add_item(item("12", Kind::Mall, {{"e", "f", "g"}}));
    market.add_item(item("13", Kind::Mall, {{"h"}, {"i"}}));
    add_urls({item("11", Kind::Marketplace, {}).url(), item("12", Kind::Mall, {}).url()});
    run();
    ASSERT_EQ(window.rows(controls::kBuyerList), numbered({"a", "b", "c", "d", "e", "f", "g"}));

    // A start with nothing new to take ends at once.
    market.clear_urls();
    run();
    EXPECT_TRUE(market.urls().empty());
    EXPECT_EQ(values.ReviewCursor.load(), 2);

    // The user clears the buyer list and adds a row: numbers go on from 8, the old rows are not
    // taken again.
    window.clear_rows(controls::kBuyerList);
    add_urls({item("13", Kind::Mall, {}).url()});
    run();
    EXPECT_EQ(window.rows(controls::kBuyerList), numbered({"h", "i"}, 8));
    EXPECT_EQ(market.urls().front(), item("13", Kind::Mall, {}).url());
    EXPECT_EQ(values.BuyerCounter.load(), 9);
}

TEST_F(ReviewHarvest, DuplicatesDroppedWithinOneAnswerOnly) {
    const struct {
        Kind kind;
        std::vector<std::vector<std::string>> pages;
        std::vector<std::string> expected;
    } cases[] = {
        {Kind::Marketplace, {{"x", "x", "y", "x"}, {"x", "y"}}, {"x", "y", "x", "y"}},
        {Kind::Mall, {{"p", "q", "p"}, {"q", "q"}}, {"p", "q", "q"}},
        // The marker directly followed by "-" gives an empty ID, listed like any other.
        {Kind::Marketplace, {{"", "z", ""}}, {"", "z"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        MarketItem i = item(std::to_string(40 + n++), c.kind, c.pages);
        market.add_item(i);
        window.clear_rows(controls::kBuyerList);
        const int first = values.BuyerCounter.load() + 1;
        add_urls({i.url()});
        run();
        EXPECT_EQ(window.rows(controls::kBuyerList), numbered(c.expected, first)) << i.id;
    }
}

TEST_F(ReviewHarvest, RetriesAnswersWithoutTheirPageMarker) {
    const struct {
        const char* name;
        Kind kind;
        std::map<int, int> throttled, unmarked;
        std::vector<int> waits;
        const char* titles;  // d: delaying, r: running
    } cases[] = {
        // Throttled twice on page 2: two six-minute pauses, each followed by the second.
        {"marketplace throttled",
         Kind::Marketplace,
         {{2, 2}},
         {},
         {360000, 1000, 360000, 1000},
         "rddr"},
        {"marketplace unmarked", Kind::Marketplace, {}, {{1, 1}}, {1000}, "rr"},
        // The mall branch knows no throttling: it only retries every second.
        {"mall throttled", Kind::Mall, {{1, 1}}, {}, {1000}, "rr"},
        {"mall without lastPage", Kind::Mall, {}, {{1, 2}, {2, 1}}, {1000, 1000, 1000}, "rr"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MarketItem i = item(std::to_string(50 + n++), c.kind, {{"a"}, {"b"}});
        i.throttled = c.throttled;
        i.unmarked = c.unmarked;
        market.add_item(i);
        market.clear_urls();
        window.clear_rows(controls::kBuyerList);
        const size_t titles_before = titles().size();
        const size_t waits_before = sleeper.waits().size();
        const int first = values.BuyerCounter.load() + 1;
        add_urls({i.url()});
        run();

        std::vector<Text> expected_titles;
        for (const char* t = c.titles; *t; ++t)
            expected_titles.push_back(*t == 'd' ? delaying : running);
        const auto all_titles = titles();
        EXPECT_EQ(std::vector<Text>(all_titles.begin() + titles_before, all_titles.end()),
                  expected_titles);
        const auto all_waits = sleeper.waits();
        EXPECT_EQ(std::vector<int>(all_waits.begin() + waits_before, all_waits.end()), c.waits);
        EXPECT_EQ(window.rows(controls::kBuyerList), numbered({"a", "b"}, first));

        // Every retry asks for the same page again: item page, summary or counter, then the
        // review pages, page 1 as often as it was refused plus once, then page 2 likewise.
        const auto urls = market.urls();
        std::vector<int> pages;
        for (size_t k = 2; k < urls.size(); ++k)
            pages.push_back(
                std::stoi(query_value(urls[k].substr(urls[k].find('?') + 1),
                                      c.kind == Kind::Mall ? "currentPage" : "currentPageNum")));
        std::vector<int> expected_pages;
        for (int page : {1, 2}) {
            const int refused = (c.throttled.count(page) ? c.throttled.at(page) : 0) +
                                (c.unmarked.count(page) ? c.unmarked.at(page) : 0);
            expected_pages.insert(expected_pages.end(), refused + 1, page);
        }
        EXPECT_EQ(pages, expected_pages);
        // A mall retry is a new address: new time and digits.
        if (c.kind == Kind::Mall) {
            EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()).size(), urls.size());
        }
    }
}

TEST_F(ReviewHarvest, PageLoopEndsOnThePageMarkers) {
    // A last page not followed by a comma reads as 0: only page 1 is fetched.
    MarketItem mall = item("61", Kind::Mall, {{"a"}, {"b"}, {"c"}});
    mall.last_page_last = true;
    // An item without reviews still has its page 1 read once.
    const MarketItem empty = item("62", Kind::Marketplace, {});
    market.add_item(mall);
    market.add_item(empty);
    add_urls({mall.url(), empty.url()});
    run();
    const auto urls = market.urls();
    ASSERT_EQ(urls.size(), 6u);
    EXPECT_NE(urls[2].find("currentPage=1&"), std::string::npos);
    EXPECT_EQ(urls[5], marketplace_review_url("562", "62", 1));
    EXPECT_EQ(window.rows(controls::kBuyerList), numbered({"a"}));
}

TEST_F(ReviewHarvest, MissingFieldsLeaveEmptyParameters) {
    MarketItem mall = item("71", Kind::Mall, {{"a"}});
    MarketItem shop = item("72", Kind::Marketplace, {{"b"}});
    mall.fields_missing = shop.fields_missing = true;
    market.add_item(mall);
    market.add_item(shop);
    add_urls({mall.url(), shop.url()});
    run();
    const auto urls = market.urls();
    ASSERT_EQ(urls.size(), 6u);
    EXPECT_EQ(urls[1],
              "http://dsr-rate.tmall.test/list_dsr_info.htm?itemId=71&spuId=&sellerId=&_ksTS="
              "1431775557951_177&callback=jsonp178");
    EXPECT_NE(urls[2].find("itemId=71&spuId=&sellerId=&order=3"), std::string::npos);
    EXPECT_EQ(urls[5], marketplace_review_url("", "72", 1));
    EXPECT_EQ(window.rows(controls::kBuyerList), numbered({"a", "b"}));
}

TEST_F(ReviewHarvest, ItemPageNamingNeitherHostIsSkipped) {
    const MarketItem plain = item("81", Kind::Plain, {{"never"}});
    const MarketItem shop = item("82", Kind::Marketplace, {{"b"}});
    market.add_item(plain);
    market.add_item(shop);
    // A page that names no review host, an unknown item, an address that cannot be fetched.
    add_urls(
        {plain.url(), "http://item.taobao.test/item.htm?id=999", "http://[bad/?id=5", shop.url()});
    run();
    const auto urls = market.urls();
    ASSERT_EQ(urls.size(), 5u);
    EXPECT_EQ(urls[0], plain.url());
    EXPECT_EQ(urls[1], "http://item.taobao.test/item.htm?id=999");
    EXPECT_EQ(urls[2], shop.url());
    EXPECT_EQ(window.rows(controls::kBuyerList), numbered({"b"}));
    EXPECT_EQ(window.writes_to(controls::kReviewUrlLabel).back(),
              utf8_to_gbk("正在获取第4个URL内容"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ReviewHarvest, AddressWithoutItemIdEndsTheWorkerWithAMessage) {
    const MarketItem before = item("91", Kind::Marketplace, {{"a"}});
    const MarketItem after = item("92", Kind::Mall, {{"z"}});
    market.add_item(before);
    market.add_item(after);
    const struct {
        const char* name;
        std::string url, page;
    } cases[] = {
        {"marketplace page", "http://item.taobao.test/item.htm?num=5",
         "<div data-listApi=\"//rate.taobao.test/feedRateList.htm?userNumId=1&x\"></div>"},
        {"mall page", "http://detail.tmall.test/item.htm?ID=5",
         "<script>{\"listApi\":\"//rate.tmall.test/list_detail_rate.htm\"}</script>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        market.set_answer(c.url, c.page);
        // Each case as a fresh program: new lists, cursor at 0.
        market.clear_urls();
        window.clear_rows(controls::kUrlList);
        window.clear_rows(controls::kBuyerList);
        values.ReviewCursor = 0;
        boxes.clear();
        add_urls({before.url(), c.url, after.url()});
        run();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, utf8_to_gbk("id错误，请保证您填写的淘宝网页有ID显示"));
        EXPECT_EQ(boxes[0].caption, default_message_box_caption());
        EXPECT_EQ(boxes[0].flags, 0);
        // The row is used up; the row after it is not touched.
        EXPECT_EQ(values.ReviewCursor.load(), 2);
        const auto urls = market.urls();
        ASSERT_FALSE(urls.empty());
        EXPECT_EQ(urls.back(), c.url);
        EXPECT_EQ(std::count(urls.begin(), urls.end(), after.url()), 0);
        EXPECT_EQ(window.column(controls::kBuyerList, 1), (std::vector<Text>{"a"}));
    }
}

TEST(ReviewItemId, FirstIdParameterUpToItsAmpersand) {
    const struct {
        std::string url, expected;
    } cases[] = {
        {"http://item.taobao.test/item.htm?id=123", "123"},
        {"http://item.taobao.test/item.htm?id=123&ns=1", "123"},
        // Case-sensitive: "skuId=" holds no "id=".
        {"http://detail.tmall.test/item.htm?skuId=88&id=123", "123"},
        {"http://detail.tmall.test/item.htm?skuId=88&id=123&rn=2", "123"},
        // A longer name ending in "id=" is taken for it.
        {"http://detail.tmall.test/item.htm?sid=88&id=123", "88"},
        {"http://item.taobao.test/item.htm?spm=a.1&id=123", "123"},
        // No "&" after the first "id=": the text after the last one.
        {"http://item.taobao.test/item.htm?spm=a&x=1&id=7", "7"},
        {"http://item.taobao.test/item.htm?userid=4&id=7", "4"},
        {"http://item.taobao.test/item.htm?id=&ns=1", "&ns=1"},
        {"http://item.taobao.test/item.htm?num=123", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(review_item_id(c.url), c.expected) << c.url;
}

TEST_F(ReviewHarvest, ItemIdOfTheAddressGoesIntoTheReviewRequests) {
    // The marketplace serves item 123 for both addresses; the review requests carry what the
    // address rule gives.
    market.add_item(item("123", Kind::Marketplace, {{"a"}}));
    add_urls({"http://item.taobao.test/item.htm?sid=88&id=123",
              "http://item.taobao.test/item.htm?skuId=88&id=123&ns=1"});
    run();
    const auto urls = market.urls();
    ASSERT_EQ(urls.size(), 6u);
    EXPECT_EQ(urls[1], counter_url("88"));
    EXPECT_EQ(urls[2], marketplace_review_url("5123", "88", 1));
    EXPECT_EQ(urls[4], counter_url("123"));
    EXPECT_EQ(urls[5], marketplace_review_url("5123", "123", 1));
}

TEST_F(ReviewHarvest, EmptyListEndsAtOnce) {
    run();
    EXPECT_TRUE(market.urls().empty());
    EXPECT_TRUE(window.writes().empty());
    EXPECT_EQ(values.ReviewCursor.load(), 0);
}

TEST_F(ReviewHarvest, ThreeWorkersShareOneListWithoutTakingARowTwice) {
    std::vector<std::string> urls, buyers;
    for (int k = 0; k < 30; ++k) {
        const std::string id = std::to_string(1000 + k);
        MarketItem i = item(id, k % 2 ? Kind::Mall : Kind::Marketplace,
                            {{"u" + id + "a", "u" + id + "b"}, {"u" + id + "c"}});
        market.add_item(i);
        urls.push_back(i.url());
        buyers.insert(buyers.end(), {"u" + id + "a", "u" + id + "b", "u" + id + "c"});
    }
    add_urls(urls);
    values.ReviewRunFlag = 1;
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back([this] { review_worker(ctx); });
    for (auto& t : workers)
        t.join();

    std::map<std::string, int> item_pages;
    for (const auto& u : market.urls())
        if (u.find("/item.htm?") != std::string::npos) ++item_pages[u];
    EXPECT_EQ(item_pages.size(), 30u);
    for (const auto& [u, count] : item_pages)
        EXPECT_EQ(count, 1) << u;
    EXPECT_EQ(values.ReviewCursor.load(), 30);
    EXPECT_EQ(values.BuyerCounter.load(), 90);

    // Every buyer once; numbers 1..90 in list order.
    const Rows rows = window.rows(controls::kBuyerList);
    ASSERT_EQ(rows.size(), 90u);
    std::multiset<std::string> got;
    for (size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r][0], std::to_string(r + 1));
        got.insert(rows[r][1]);
    }
    EXPECT_EQ(got, std::multiset<std::string>(buyers.begin(), buyers.end()));
}

TEST_F(ReviewHarvest, StoppedRunLeavesAnEndlessRetry) {
    MarketItem i = item("77", Kind::Marketplace, {{"a"}});
    i.unmarked = {{1, 1 << 30}};
    market.add_item(i);
    add_urls({i.url(), item("78", Kind::Mall, {}).url()});
    values.ReviewRunFlag = 1;
    std::stop_source stop;
    std::thread worker([&] {
        set_current_stop_token(stop.get_token());
        review_worker(ctx);
    });
    ASSERT_TRUE(market.wait_for_requests(6));  // item page, counter, some retries
    stop.request_stop();
    worker.join();  // returns: the test would hang otherwise
    const auto urls = market.urls();
    EXPECT_EQ(std::count(urls.begin(), urls.end(), item("78", Kind::Mall, {}).url()), 0);
    EXPECT_EQ(values.ReviewCursor.load(), 1);
}

// The claim itself, without window round trips to space the workers out: eight threads released at
// once take rows until none is left. A claim that reads the cursor and writes it back in two steps
// hands some row to two threads within a few rounds.
TEST(ReviewRowClaim, EightThreadsTakeEachOfTwentyThousandRowsExactlyOnce) {
    constexpr int kRows = 20000;
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    MemoryWindow window;
    window.append_rows(controls::kUrlList, std::vector<std::vector<Text>>(kRows, {"u"}));
    for (int round = 0; round < kRounds; ++round) {
        ProgramValues values;
        std::vector<std::atomic<int>> taken(kRows);
        std::atomic<int> out_of_range{0};
        std::latch start(kThreads);
        {
            std::vector<std::jthread> threads;
            for (int t = 0; t < kThreads; ++t)
                threads.emplace_back([&] {
                    start.arrive_and_wait();
                    for (int row = claim_review_row(window, values); row >= 0;
                         row = claim_review_row(window, values)) {
                        if (row >= kRows) {
                            ++out_of_range;
                            break;
                        }
                        taken[static_cast<size_t>(row)].fetch_add(1);
                    }
                });
        }
        int twice = 0, never = 0;
        for (const auto& count : taken) {
            twice += count.load() > 1;
            never += count.load() == 0;
        }
        ASSERT_EQ(twice, 0) << "rows taken more than once in round " << round;
        ASSERT_EQ(never, 0) << "rows never taken in round " << round;
        ASSERT_EQ(out_of_range.load(), 0) << "round " << round;
        ASSERT_EQ(values.ReviewCursor.load(), kRows) << "round " << round;
    }
}

}  // namespace
