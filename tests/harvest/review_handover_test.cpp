// The hand-over units of the item search harvest (review pages to buyer rows in 超级列表框1) and
// of the shop item harvest (links to the URL list), against the loopback marketplace.
#include "harvest/review_handover.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "harvest/item_search_harvest.h"
#include "harvest/review_harvest.h"
#include "harvest/shop_harvest.h"
#include "runtime/gbk.h"
#include "runtime/stop.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"

namespace {

using namespace std::chrono_literals;
using Kind = MarketItem::Kind;
using Rows = std::vector<std::vector<Text>>;
using Texts = std::vector<Text>;

constexpr const char* kHandoverList = "超级列表框1";
constexpr const char* kUrlList = "超级列表框2_URL";
const Text kToHarvest = utf8_to_gbk("需要采集的共计：");
const Text kFinished = utf8_to_gbk("采集完毕，共计：");

// What the marketplace holds for one listed item, and what its units must make of it.
struct ItemPlan {
    std::vector<std::vector<std::string>> pages;  // buyer ids per review page
    std::map<int, int> throttled;                 // page -> throttled answers first
    std::map<int, int> unmarked;                  // page -> answers without the page marker first
    std::vector<int> asked;                       // review pages the units ask for, once each
    std::vector<std::string> listed;              // buyer ids listed, in page order
};

class ReviewHandoverTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        values.SearchKeyword = "shoes";
        values.FilterParameter = "&tab=all";
        values.ThreadCount = 1;
    }

    // One result page of plans.size() items, every other one a mall item, each with its reviews.
    void list(const std::vector<ItemPlan>& plans) {
        search.total_pages = 1;
        search.items_per_page = static_cast<int>(plans.size());
        market.set_search(search);
        values.PageLimit = 1;
        for (size_t i = 0; i < plans.size(); ++i) {
            const MarketSearch::Entry e = search.entry(1, static_cast<int>(i));
            MarketItem item;
            item.id = e.nid;
            item.seller = e.user_id;
            item.kind = e.mall ? Kind::Mall : Kind::Marketplace;
            item.pages = plans[i].pages;
            item.throttled = plans[i].throttled;
            item.unmarked = plans[i].unmarked;
            market.add_item(item);
        }
    }
    // The review address of listed item i, the page number appended.
    std::string review_url(int i, int page) const {
        const MarketSearch::Entry e = search.entry(1, i);
        return review_address(hosts, e.detail_url, e.nid, e.user_id, false) + std::to_string(page);
    }
    std::vector<std::string> review_urls() const {
        std::vector<std::string> out;
        for (const std::string& url : market.urls())
            if (url.find("/search?") == std::string::npos) out.push_back(url);
        return out;
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
    HostSettings hosts = Marketplace::hosts();
    MemoryWindow window;
    ProgramValues values;
    ScaledSleeper sleeper{10};
    HarvestContext ctx{window, values, hosts, sleeper};
    MarketSearch search;
};

Rows numbered(const std::vector<std::string>& ids) {
    Rows rows;
    for (const std::string& id : ids)
        rows.push_back({std::to_string(rows.size() + 1), id});
    return rows;
}

TEST_F(ReviewHandoverTest, KeywordHarvestListsTheBuyersOfEveryItem) {
    const std::vector<ItemPlan> plans = {
        // Duplicates within one answer count once; on another page they count again.
        {{{"m0a", "m0b", "m0a"}, {"m0c", "m0a"}}, {}, {}, {1, 2}, {"m0a", "m0b", "m0c", "m0a"}},
        // An empty page in the middle does not end the item; neither does an empty ID.
        {{{"t1a", ""}, {}, {"t1b"}}, {}, {}, {1, 2, 3}, {"t1a", "", "t1b"}},
        // No reviews: the one answer says its last page is 0.
        {{}, {}, {}, {1}, {}},
        // The last page answers without its marker: it is asked for again, nothing is lost.
        {{{"t3a"}, {"t3b"}}, {}, {{2, 1}}, {1, 2, 2}, {"t3a", "t3b"}},
        // A throttled mall page is asked for again after a second.
        {{{"m4a"}}, {{1, 2}}, {}, {1, 1, 1}, {"m4a"}},
        {{{"t5"}}, {}, {}, {1}, {"t5"}},
    };
    // The harvest runs on a thread of its own with a stop token, as in the program.
    for (const int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        values.ThreadCount = threads;
        // Items of their own each time: the marketplace counts the answers per item and page.
        search.first_nid += 1000;
        list(plans);
        market.clear_urls();
        std::atomic<int> busiest{0};
        // Page 1 of the item with three pages waits until every unit the thread count allows
        // has been admitted, so the units of one address share its pages for certain.
        market.set_before_answer([&](const std::string& url) {
            if (url == review_url(1, 1))
                for (int i = 0; i < 2000 && values.RunningUnits.load() < threads; ++i)
                    std::this_thread::sleep_for(1ms);
            if (url.find("/search?") == std::string::npos)
                busiest = std::max(busiest.load(), values.RunningUnits.load());
        });
        window.append_rows(kHandoverList, {{"old", "row"}});
        const size_t labels_before = window.writes_to("标签8").size();
        std::stop_source run;
        std::thread worker([&] {
            set_current_stop_token(run.get_token());
            item_search_harvest(ctx);
        });
        worker.join();
        market.set_before_answer(nullptr);

        std::vector<std::string> asked, listed;
        for (size_t i = 0; i < plans.size(); ++i) {
            for (int page : plans[i].asked)
                asked.push_back(review_url(static_cast<int>(i), page));
            listed.insert(listed.end(), plans[i].listed.begin(), plans[i].listed.end());
        }
        std::vector<std::string> got_urls = review_urls();
        Rows rows = window.rows(kHandoverList);
        if (threads == 1) {
            // One unit at a time: pages in order, rows in page order.
            EXPECT_EQ(got_urls, asked);
            EXPECT_EQ(rows, numbered(listed));
        } else {
            // Pages of one address come in any order; none twice, none past the last one.
            std::sort(got_urls.begin(), got_urls.end());
            std::sort(asked.begin(), asked.end());
            EXPECT_EQ(got_urls, asked);
            ASSERT_EQ(rows.size(), listed.size());
            std::vector<std::string> ids;
            for (size_t r = 0; r < rows.size(); ++r) {
                EXPECT_EQ(rows[r][0], std::to_string(r + 1));
                ids.push_back(rows[r][1]);
            }
            std::sort(ids.begin(), ids.end());
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(ids, listed);
        }
        EXPECT_EQ(busiest.load(), threads);
        EXPECT_EQ(values.RunningUnits.load(), 0);

        const Texts labels = window.writes_to("标签8");
        Texts expected{kToHarvest + "6"};
        for (int i = 1; i <= 6; ++i)
            expected.push_back("No." + std::to_string(i) + " / 6");
        expected.push_back(kFinished + std::to_string(listed.size()));
        EXPECT_EQ(Texts(labels.begin() + labels_before, labels.end()), expected);
    }
}

TEST_F(ReviewHandoverTest, ASingleAddressIsHandedOverAndAPageWithoutItsMarkerIsAskedAgain) {
    // Page 2 of 3 answers twice without its marker: it is asked for again, then page 3.
    list({{{{"b1", "b2"}, {"b3"}, {"b4"}}, {}, {{2, 2}}, {}, {}}});
    item_search_harvest(ctx);
    EXPECT_EQ(review_urls(),
              (std::vector<std::string>{review_url(0, 1), review_url(0, 2), review_url(0, 2),
                                        review_url(0, 2), review_url(0, 3)}));
    EXPECT_EQ(window.rows(kHandoverList), numbered({"b1", "b2", "b3", "b4"}));
    EXPECT_EQ(window.writes_to("标签8"), (Texts{kToHarvest + "1", "No.1 / 1", kFinished + "4"}));
    EXPECT_EQ(values.RunningUnits.load(), 0);
}

TEST_F(ReviewHandoverTest, StopDuringTheHandOverEndsTheUnitsAndListsNothingMore) {
    list({{{{"a1"}, {"a2"}}, {}, {}, {}, {}},
          {{{"b1"}, {"b2"}}, {}, {}, {}, {}},
          {{{"c1"}}, {}, {}, {}, {}}});
    // The second item's page 2 is held back; the Stop comes while it is outstanding.
    std::stop_source run;
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    Rows at_stop;
    const std::string held = review_url(1, 2);
    market.set_before_answer([&](const std::string& url) {
        if (url != held) return;
        at_stop = window.rows(kHandoverList);
        run.request_stop();
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 10s, [&] { return release; });
    });
    std::atomic<bool> ended{false};
    std::thread worker([&] {
        set_current_stop_token(run.get_token());
        item_search_harvest(ctx);
        ended = true;
    });
    // The harvest and its unit end while the page is still held back.
    for (int i = 0; i < 2000 && !ended; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(ended);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    worker.join();
    market.set_before_answer(nullptr);

    EXPECT_EQ(at_stop, numbered({"a1", "a2", "b1"}));
    EXPECT_EQ(window.rows(kHandoverList), at_stop);
    const std::vector<std::string> urls = review_urls();
    ASSERT_FALSE(urls.empty());
    EXPECT_EQ(urls.back(), held);
    EXPECT_EQ(window.writes_to("标签8").back(), "No.2 / 3");
    EXPECT_EQ(values.RunningUnits.load(), 0);
}

TEST_F(ReviewHandoverTest, ShopHarvestLandsItsLinksInTheUrlList) {
    MarketShop b;
    b.host = market_host::kShopB;
    b.kind_a = false;
    b.pages = 2;
    MarketShop a;
    a.host = market_host::kShopA;
    a.page_count_block = false;
    a.first_item = 700000;
    market.add_shop(b);
    market.add_shop(a);
    window.add_item("列表框_店铺", std::string("http://") + market_host::kShopB + "/");
    window.add_item("列表框_店铺", std::string("http://") + market_host::kShopA + "/");
    // Entries from an earlier run are handed over too; an empty one names no item.
    window.add_item("列表框_页面", "http://item.taobao.test/item.htm?id=9");
    window.add_item("列表框_页面", "");
    window.append_rows(kUrlList, {{"kept"}});
    // The links of shop A have reviews, so the URL list feeds the buyer harvest as it stands.
    for (int i = 0; i < a.items_per_page; ++i) {
        MarketItem item;
        item.id = std::to_string(a.first_item + i);
        item.seller = "8";
        item.pages = {{"buyer" + item.id}};
        market.add_item(item);
    }
    values.ThreadCount = 2;

    shop_item_harvest(ctx);

    Texts urls{"kept", "http://item.taobao.test/item.htm?id=9"};
    for (const auto& [shop, page] : {std::pair{&b, 1}, std::pair{&b, 2}, std::pair{&a, 1}})
        for (const std::string& link : shop->links(page))
            urls.push_back("http:" + link);
    EXPECT_EQ(window.column(kUrlList, 0), urls);
    // Counted after each entry added: 2 before the run, then 6 links of B and those of A.
    Texts counts;
    for (int n = 3; n <= 8 + a.items_per_page; ++n)
        counts.push_back(std::to_string(n));
    EXPECT_EQ(window.writes_to("pane:5"), counts);
    EXPECT_EQ(values.RunningUnits.load(), 0);

    values.ReviewRunFlag = 1;
    review_worker(ctx);
    EXPECT_EQ(window.column(controls::kBuyerList, 1),
              (Texts{"buyer700000", "buyer700001", "buyer700002"}));
}

}  // namespace
