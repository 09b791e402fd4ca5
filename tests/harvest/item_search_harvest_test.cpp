#include "harvest/item_search_harvest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "harvest/cut_between.h"
#include "harvest/harvest_button.h"
#include "runtime/gbk.h"
#include "runtime/stop.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"

namespace {

using Rows = std::vector<std::vector<Text>>;

const Text kLoginNeeded = utf8_to_gbk("需要登陆！");
const Text kToHarvest = utf8_to_gbk("需要采集的共计：");
const Text kFinished = utf8_to_gbk("采集完毕，共计：");
const std::string kSearch = "http://s.taobao.test/search?q=";

// A unit that takes its address and ends at once, for tests of the search side alone.
void take_and_end(HarvestContext& c, std::atomic<bool>& flag) {
    flag = false;
    c.values.RunningUnits.fetch_sub(1);
}
const ReviewAddressUnit kTakeAndEnd = [](HarvestContext& c, int, const Text&,
                                         std::atomic<bool>& flag) { take_and_end(c, flag); };

struct CutCase {
    const char* rule;
    std::string text, start, end, cut;
};

TEST(CutBetween, TakesTheTextBetweenTheFirstStartAndTheNextEnd) {
    const std::string quote = utf8_to_gbk("#引号");
    const CutCase cases[] = {
        {"page count", R"({"pageSize":44,"totalPage":100,"currentPage":1})", "\"totalPage\":", ",",
         "100"},
        {"quote word in both markers", R"(a "x":"v" b)", quote + "x" + quote + ":" + quote,
         quote + " ", "v"},
        {"quote word in the text stays", "#" + utf8_to_gbk("引号") + "a,", quote, ",", ""},
        {"first start marker counts", "[a][b]", "[", "]", "a"},
        {"end searched after the start", "]x[y]", "[", "]", "y"},
        {"start missing", "abc", "[", "]", ""},
        {"end missing", "[abc", "[", "]", ""},
        {"end right after start", "[]x]", "[", "]", ""},
        {"start marker at the very end", "abc[", "[", "]", ""},
        {"empty text", "", "[", "]", ""},
        {"markers of several bytes", "<b>bold</b>", "<b>", "</b>", "bold"},
        {"GBK text", utf8_to_gbk("价格：12元，"), utf8_to_gbk("："), utf8_to_gbk("，"),
         utf8_to_gbk("12元")},
        // "的你" is B5 C4 C4 E3: C4 C4 straddles two characters and is no match.
        {"marker across a character boundary", "\xB5\xC4\xC4\xE3=1,", "\xC4\xC4", ",", ""},
        {"case matters", "<B>x</b>", "<b>", "</b>", ""},
    };
    for (const CutCase& c : cases)
        EXPECT_EQ(cut_between(c.text, c.start, c.end), c.cut) << c.rule;
}

TEST(ReviewAddress, MallAndMarketplaceForms) {
    const HostSettings hosts = Marketplace::hosts();
    const std::string mall =
        "http://rate.tmall.test/list_detail_rate.htm?itemId=11&spuId={spuId}&sellerId=22&order=1"
        "&currentPage=";
    const std::string market =
        "http://rate.taobao.test/feedRateList.htm?_ksTS=1426738791296_2556&callback=jsonp_reviews_"
        "list&userNumId=22&auctionNumId=11&siteID=7&currentPageNum=";
    struct Case {
        const char* rule;
        std::string address;
        bool mall_only;
        std::string review;
    } cases[] = {
        {"mall item", "https://detail.tmall.test/item.htm?id=11", false, mall},
        {"mall item, mall only", "//detail.tmall.test/item.htm?id=11", true, mall},
        {"marketplace item", "//item.taobao.test/item.htm?id=11", false, market},
        {"marketplace item skipped", "//item.taobao.test/item.htm?id=11", true, ""},
        {"undecodable address counts as marketplace", "", false, market},
        {"undecodable address skipped", "", true, ""},
        {"host compared exactly", "//DETAIL.TMALL.TEST/item.htm?id=11", false, market},
    };
    for (const Case& c : cases)
        EXPECT_EQ(review_address(hosts, c.address, "11", "22", c.mall_only), c.review) << c.rule;
}

class ItemSearchHarvest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        values.SearchKeyword = "shoes";
        values.FilterParameter = "&tab=all";
        values.PageLimit = 10;
        values.ThreadCount = 1;
    }

    MemoryWindow& memory() { return window; }
    Rows rows() { return memory().rows("超级列表框2"); }
    void search(int pages, int per_page) {
        MarketSearch s;
        s.total_pages = pages;
        s.items_per_page = per_page;
        search_ = s;
        market.set_search(s);
    }
    // The row the harvest must have made of item `index` of result page `page`.
    std::vector<Text> expected_row(int number, int page, int index) const {
        const MarketSearch::Entry e = search_.entry(page, index);
        return {std::to_string(number), e.detail_url, e.nid, e.user_id};
    }
    void prefill(const char* list, int n) {
        for (int i = 0; i < n; ++i)
            memory().append_rows(list, {{"old" + std::to_string(i), "x", "y", "z"}});
    }
    std::string page_url(int page) const {
        return kSearch + "shoes&tab=all&promote=0&bcoffset=-4&s=" + std::to_string((page - 1) * 44);
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
    HostSettings hosts = Marketplace::hosts();
    MemoryWindow window;
    ProgramValues values;
    ScaledSleeper sleeper{100};
    HarvestContext ctx{window, values, hosts, sleeper};
    MarketSearch search_;
};

TEST_F(ItemSearchHarvest, ThreePagesOfItemsBecomeRowsAndReviewAddresses) {
    search(5, 44);
    values.PageLimit = 3;
    prefill("超级列表框2", 2);
    prefill("超级列表框1", 3);
    std::vector<Text> handed;
    std::vector<int> units_running;
    item_search_harvest(ctx,
                        [&](HarvestContext& c, int, const Text& address, std::atomic<bool>& flag) {
                            handed.push_back(address);
                            units_running.push_back(c.values.RunningUnits.load());
                            take_and_end(c, flag);
                        });

    // The first page without paging keys, then offsets 0, 44 and 88.
    EXPECT_EQ(market.urls(), (std::vector<std::string>{kSearch + "shoes&tab=all", page_url(1),
                                                       page_url(2), page_url(3)}));
    const Rows got = rows();
    ASSERT_EQ(got.size(), 132u);
    for (int page = 1; page <= 3; ++page)
        for (int i = 0; i < 44; ++i) {
            const int number = (page - 1) * 44 + i + 1;
            EXPECT_EQ(got[number - 1], expected_row(number, page, i)) << number;
        }

    EXPECT_EQ(memory().writes_to("pane:7"), (std::vector<Text>{"5", "1/5", "2/5", "3/5"}));
    std::vector<Text> counts;
    for (int n = 1; n <= 132; ++n)
        counts.push_back(std::to_string(n));
    counts.push_back("3");  // the buyer list's rows, after the last page
    EXPECT_EQ(memory().writes_to("pane:5"), counts);

    // Every other item is a mall item; each address as its row says, in row order.
    ASSERT_EQ(handed.size(), 132u);
    for (size_t r = 0; r < got.size(); ++r)
        EXPECT_EQ(handed[r], review_address(hosts, got[r][1], got[r][2], got[r][3], false)) << r;
    EXPECT_EQ(handed[0],
              "http://rate.tmall.test/list_detail_rate.htm?itemId=520000000000"
              "&spuId={spuId}&sellerId=1000000&order=1&currentPage=");
    EXPECT_EQ(handed[1],
              "http://rate.taobao.test/feedRateList.htm?_ksTS=1426738791296_2556&callback=jsonp_"
              "reviews_list&userNumId=1000001&auctionNumId=520000000001&siteID=7"
              "&currentPageNum=");
    EXPECT_EQ(units_running, std::vector<int>(132, 1));
    EXPECT_EQ(values.RunningUnits.load(), 0);

    std::vector<Text> labels{kToHarvest + "132"};
    for (int i = 1; i <= 132; ++i)
        labels.push_back("No." + std::to_string(i) + " / 132");
    labels.push_back(kFinished + "0");
    EXPECT_EQ(memory().writes_to("标签8"), labels);
    EXPECT_TRUE(memory().rows("超级列表框1").empty());
}

TEST_F(ItemSearchHarvest, MallOnlyIsReadWhenTheAddressesAreBuilt) {
    // Checked at start, unchecked during the page loop: marketplace items count again; and the
    // other way round.
    for (const bool checked_at_end : {false, true}) {
        SCOPED_TRACE(checked_at_end);
        search(2, 4);
        memory().set_checked("选择框1", !checked_at_end);
        memory().clear_rows("超级列表框2");
        market.set_before_answer([&](const std::string& url) {
            if (url == page_url(2)) memory().set_checked("选择框1", checked_at_end);
        });
        std::vector<Text> handed;
        const size_t labels = memory().writes_to("标签8").size();
        item_search_harvest(ctx,
                            [&](HarvestContext& c, int, const Text& a, std::atomic<bool>& flag) {
                                handed.push_back(a);
                                take_and_end(c, flag);
                            });
        ASSERT_EQ(rows().size(), 8u);
        const size_t expected = checked_at_end ? 4 : 8;
        EXPECT_EQ(handed.size(), expected);
        for (const Text& a : handed)
            EXPECT_TRUE(!checked_at_end || a.find("rate.tmall.test") != std::string::npos) << a;
        EXPECT_EQ(memory().writes_to("标签8").at(labels), kToHarvest + std::to_string(expected));
        market.set_before_answer(nullptr);
        market.clear_urls();
    }
}

struct PagingCase {
    const char* rule;
    int total_pages;
    int page_limit;
    std::vector<int> pages_read;
    std::vector<Text> pane7;
};

TEST_F(ItemSearchHarvest, ReadsNoMorePagesThanTheLimitAndTheCount) {
    const PagingCase cases[] = {
        {"limit below the count", 100, 3, {1, 2, 3}, {"100", "1/100", "2/100", "3/100"}},
        {"count below the limit", 2, 10, {1, 2}, {"2", "1/2", "2/2"}},
        {"limit zero", 5, 0, {}, {"5"}},
        {"negative limit", 5, -1, {}, {"5"}},
        {"count zero", 0, 10, {}, {"0"}},
    };
    for (const PagingCase& c : cases) {
        SCOPED_TRACE(c.rule);
        search(c.total_pages, 2);
        values.PageLimit = c.page_limit;
        memory().clear_rows("超级列表框2");
        prefill("超级列表框2", 3);
        market.clear_urls();
        const size_t pane_writes = memory().writes_to("pane:7").size();
        const size_t label_writes = memory().writes_to("标签8").size();

        item_search_harvest(ctx, kTakeAndEnd);

        std::vector<std::string> urls{kSearch + "shoes&tab=all"};
        for (int p : c.pages_read)
            urls.push_back(page_url(p));
        EXPECT_EQ(market.urls(), urls);
        EXPECT_EQ(rows().size(), 2 * c.pages_read.size());  // the old rows are gone
        const std::vector<Text> pane7 = memory().writes_to("pane:7");
        EXPECT_EQ(std::vector<Text>(pane7.begin() + pane_writes, pane7.end()), c.pane7);
        const std::vector<Text> labels = memory().writes_to("标签8");
        const std::vector<Text> mine(labels.begin() + label_writes, labels.end());
        if (c.pages_read.empty())
            EXPECT_EQ(mine, (std::vector<Text>{kToHarvest + "0", kFinished + "0"}));
        else
            EXPECT_EQ(mine.back(), kFinished + "0");
    }
}

TEST_F(ItemSearchHarvest, WithoutAPageCountAsksForTheLoginAndKeepsTheRows) {
    struct Case {
        const char* rule;
        std::function<void()> arrange;
    } cases[] = {
        {"login page",
         [&] {
             MarketSearch s;
             s.logged_out = true;
             market.set_search(s);
         }},
        {"error page", [&] { market.set_answer(kSearch + "shoes&tab=all", ""); }},
        {"count without its comma",
         [&] { market.set_answer(kSearch + "shoes&tab=all", "{\"totalPage\":3}"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        MemoryWindow& w = memory();
        w.clear_rows("超级列表框2");
        w.clear_rows("超级列表框1");
        prefill("超级列表框2", 2);
        prefill("超级列表框1", 1);
        const Rows before = rows();
        market.clear_urls();
        c.arrange();

        item_search_harvest(ctx);

        EXPECT_EQ(market.request_count(), 1u);
        EXPECT_EQ(rows(), before);
        EXPECT_EQ(w.rows("超级列表框1").size(), 1u);
        EXPECT_EQ(w.writes_to("pane:7").back(), "");
        EXPECT_EQ(w.writes_to("标签8").back(), kLoginNeeded);
    }
}

TEST_F(ItemSearchHarvest, APageCountThatIsNoNumberClearsTheListAndReadsNothing) {
    market.set_answer(kSearch + "shoes&tab=all", "{\"totalPage\":\"many\",\"x\":1}");
    prefill("超级列表框2", 2);
    item_search_harvest(ctx);
    EXPECT_EQ(market.request_count(), 1u);
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(memory().writes_to("pane:7"), std::vector<Text>{"\"many\""});
    EXPECT_EQ(memory().writes_to("标签8"), (std::vector<Text>{kToHarvest + "0", kFinished + "0"}));
}

TEST_F(ItemSearchHarvest, TheStopFlagEndsTheRunRightAfterARow) {
    // The flag is raised while page p is being fetched: its first row is the last one.
    for (const int p : {1, 3}) {
        SCOPED_TRACE(p);
        search(3, 44);
        memory().clear_rows("超级列表框2");
        market.clear_urls();
        values.StopFlag.store(0);
        const size_t labels = memory().writes_to("标签8").size();
        market.set_before_answer([&](const std::string& url) {
            if (url == page_url(p)) values.StopFlag.store(1);
        });

        item_search_harvest(ctx);

        const int last = (p - 1) * 44 + 1;
        EXPECT_EQ(rows().size(), static_cast<size_t>(last));
        EXPECT_EQ(market.request_count(), 1u + p);
        EXPECT_EQ(memory().writes_to("pane:5").back(), std::to_string(last));
        EXPECT_EQ(memory().writes_to("标签8").size(), labels);
    }
    market.set_before_answer(nullptr);
}

TEST_F(ItemSearchHarvest, AStopClickDuringAPageRequestEndsTheRunAtOnce) {
    search(3, 44);
    values.PageLimit = 3;
    memory().set_text("按钮_采集", utf8_to_gbk("采集"));
    memory().set_text("编辑框_关键字", "shoes");
    memory().set_text("编辑框1", "3");
    memory().set_text("编辑框_线程", "1");

    // Page 2 stays outstanding until the test lets it go. The server thread may still be waking
    // from the wait after the test has ended, so what it waits on is shared, not the test's own.
    struct Hold {
        std::mutex mutex;
        std::condition_variable changed;
        bool page2_asked = false, release = false;
    };
    auto hold = std::make_shared<Hold>();
    market.set_before_answer([hold, page2 = page_url(2)](const std::string& url) {
        if (url != page2) return;
        std::unique_lock lock(hold->mutex);
        hold->page2_asked = true;
        hold->changed.notify_all();
        hold->changed.wait_for(lock, std::chrono::seconds(10), [&] { return hold->release; });
    });

    std::atomic<bool> ended{false};
    std::jthread worker;
    HarvestWorkerControl control;
    control.start = [&](HarvestMode mode) {
        EXPECT_EQ(mode, HarvestMode::item_search);
        worker = std::jthread([&](std::stop_token token) {
            set_current_stop_token(token);
            item_search_harvest(ctx);
            ended = true;
        });
        return true;
    };
    control.stop = [&] { worker.request_stop(); };

    harvest_button_click(window, values, control);
    {
        std::unique_lock lock(hold->mutex);
        ASSERT_TRUE(hold->changed.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return hold->page2_asked; }));
    }
    ASSERT_EQ(rows().size(), 44u);
    harvest_button_click(window, values, control);
    EXPECT_EQ(memory().text("按钮_采集"), utf8_to_gbk("采集"));
    EXPECT_EQ(values.StopFlag.load(), 1);

    // The outstanding request is abandoned: the worker ends while the page is still held back.
    for (int i = 0; i < 1000 && !ended; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(ended);
    {
        std::lock_guard lock(hold->mutex);
        hold->release = true;
    }
    hold->changed.notify_all();
    worker.join();
    market.set_before_answer(nullptr);

    EXPECT_EQ(rows().size(), 44u);
    EXPECT_EQ(market.urls(),
              (std::vector<std::string>{kSearch + "shoes&tab=all", page_url(1), page_url(2)}));
    EXPECT_TRUE(memory().writes_to("标签8").empty());
}

struct AddressCase {
    const char* rule;
    const char* keyword_utf8;
    bool sales;
    const char* low;
    const char* high;
    bool mall_only;
    std::string query;  // of the first request; page 2 adds the paging keys
};

TEST_F(ItemSearchHarvest, SearchAddressesCarryTheClickParameters) {
    const AddressCase cases[] = {
        {"the documented example", "ab c", true, "10", "100", true,
         "ab+c&sort=sale-desc&filter=reserve_price%5B10%2C100%5D&tab=mall"},
        {"Chinese with a space, overall order", "连衣裙 女", false, "", "", false,
         "%C1%AC%D2%C2%C8%B9+%C5%AE&tab=all"},
        {"upper price only, sales order", "T-shirt_1.0", true, "", "50", false,
         "T-shirt_1.0&sort=sale-desc&filter=reserve_price%5B%2C50%5D&tab=all"},
        {"upper price below one", "a&b", false, "0", "0.9", true, "a%26b&tab=mall"},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.rule);
        search(3, 1);
        market.clear_urls();
        MemoryWindow& w = memory();
        w.set_text("按钮_采集", utf8_to_gbk("采集"));
        w.set_text("编辑框_关键字", utf8_to_gbk(c.keyword_utf8));
        w.set_text("编辑框_低", c.low);
        w.set_text("编辑框_高", c.high);
        w.set_checked("选择框1", c.mall_only);
        w.set_text("编辑框1", "2");
        values.SortParameter = c.sales ? "&sort=sale-desc" : "";
        HarvestWorkerControl control;
        control.start = [&](HarvestMode) {
            item_search_harvest(ctx, kTakeAndEnd);
            return true;
        };
        harvest_button_click(window, values, control);

        const std::string base = kSearch + c.query;
        EXPECT_EQ(market.urls(),
                  (std::vector<std::string>{base, base + "&promote=0&bcoffset=-4&s=0",
                                            base + "&promote=0&bcoffset=-4&s=44"}));
        EXPECT_EQ(rows().size(), 2u);
    }
}

TEST_F(ItemSearchHarvest, HandOverWaitsForTheUnitsToFinish) {
    // Units that end later on threads of their own: the next address waits until none runs, and
    // no more units run at once than the thread count allows.
    for (const int threads : {0, 1, 3}) {
        SCOPED_TRACE(threads);
        search(1, 5);
        values.ThreadCount = threads;
        memory().clear_rows("超级列表框2");
        std::atomic<int> busiest{0};
        std::vector<Text> order;
        std::vector<std::jthread> units;
        item_search_harvest(ctx,
                            [&](HarvestContext& c, int, const Text& a, std::atomic<bool>& flag) {
                                order.push_back(a);
                                busiest = std::max(busiest.load(), c.values.RunningUnits.load());
                                flag = false;
                                units.emplace_back([&c] {
                                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                    c.values.RunningUnits.fetch_sub(1);
                                });
                            });
        units.clear();
        EXPECT_EQ(order.size(), 5u);
        EXPECT_EQ(busiest.load(), 1);
        EXPECT_EQ(values.RunningUnits.load(), 0);
        EXPECT_EQ(memory().writes_to("标签8").back(), kFinished + "0");
    }
}

}  // namespace
