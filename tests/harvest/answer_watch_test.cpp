// Asking again without loss and without end, against the loopback marketplace: the hand-over lists
// what the review harvest lists, a lasting block waits for the user, a lasting unknown answer is
// saved and reported, and no address is asked more than 60 times in a row.
#include "harvest/answer_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "harvest/item_search_harvest.h"
#include "harvest/review_harvest.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"
#include "tests/support/recording_sleeper.h"
#include "web/cookie_store.h"

namespace {

using namespace std::chrono_literals;
using namespace controls;
using Kind = MarketItem::Kind;
using Texts = std::vector<Text>;

const Text kDelaying = utf8_to_gbk("延时6分钟获取");
const Text kRunning = utf8_to_gbk("正常运行...");
const Text kVerify = utf8_to_gbk("需要验证，请在淘宝登陆页完成验证");
const Text kFinished = utf8_to_gbk("采集完毕，共计：");
const Text kLoginNeeded = utf8_to_gbk("需要登陆！");

struct Plan {
    std::vector<std::vector<std::string>> pages;
    std::map<int, int> throttled, unmarked;
};

class AnswerWatchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        clear_cookies();
        values.SearchKeyword = "shoes";
        values.FilterParameter = "&tab=all";
        values.PageLimit = 1;
        values.ReportsFolder =
            std::filesystem::temp_directory_path() /
            ("zembra_reports_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::remove_all(values.ReportsFolder);
        register_message_box([this](const Text& text, int, const Text&) {
            std::lock_guard lock(mutex);
            boxes.push_back(text);
            return 0;
        });
    }
    void TearDown() override {
        register_message_box({});
        clear_cookies();
        std::filesystem::remove_all(values.ReportsFolder);
    }

    // One result page listing an item per plan: even ones from the mall, odd ones not.
    void list(const std::vector<Plan>& plans) {
        search.total_pages = 1;
        search.items_per_page = static_cast<int>(plans.size());
        market.set_search(search);
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
            items.push_back(item);
        }
    }
    // Runs on a thread of its own with a stop token, as in the program.
    template <class F>
    void run_as_worker(F f) {
        std::stop_source run;
        std::thread worker([&] {
            set_current_stop_token(run.get_token());
            f();
        });
        worker.join();
    }
    void review_items() { review_items(ctx); }
    void review_items(HarvestContext& c) {
        std::vector<std::vector<Text>> rows;
        for (const MarketItem& item : items)
            rows.push_back({item.url()});
        window.append_rows(kUrlList, rows);
        values.ReviewRunFlag = 1;
        run_as_worker([&] { review_worker(c); });
    }
    std::vector<std::string> asked(std::string_view path) {
        std::vector<std::string> out;
        for (const std::string& url : market.urls())
            if (url.find(path) != std::string::npos) out.push_back(url);
        return out;
    }
    Texts messages() {
        std::lock_guard lock(mutex);
        return boxes;
    }
    std::vector<std::filesystem::path> reports() {
        std::vector<std::filesystem::path> out;
        if (std::filesystem::exists(values.ReportsFolder))
            for (const auto& entry : std::filesystem::directory_iterator(values.ReportsFolder))
                out.push_back(entry.path());
        return out;
    }
    static std::vector<Text> sorted(std::vector<Text> v) {
        std::sort(v.begin(), v.end());
        return v;
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
    HostSettings hosts = Marketplace::hosts();
    MemoryWindow window;
    ProgramValues values;
    RecordingSleeper sleeper{100000};  // 1 ms for a second, 4 ms for six minutes
    HarvestContext ctx{window, values, hosts, sleeper};
    MarketSearch search;
    std::vector<MarketItem> items;
    std::mutex mutex;
    Texts boxes;
};

TEST_F(AnswerWatchTest, HandOverAfterThrottlesListsWhatTheReviewHarvestLists) {
    const std::vector<Plan> plans = {
        {{{"m0a", "m0b"}, {"m0c"}}, {{1, 2}}, {}},           // mall: throttled twice, 1 s each
        {{{"t1a"}, {"t1b", "t1a"}, {"t1c"}}, {{2, 1}}, {}},  // marketplace: the 6-minute pause
        {{{"m2a"}, {"m2b"}}, {}, {{2, 1}}},                  // mall page without its marker
        {{{"t3a", "t3b"}}, {}, {{1, 2}}},                    // marketplace, unknown twice
    };
    for (const int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        search.first_nid += 1000;
        items.clear();
        list(plans);
        values.ThreadCount = threads;
        window.clear_rows(kCollectedBuyers);
        window.clear_rows(kUrlList);
        window.clear_rows(kBuyerList);
        values.ReviewCursor = 0;
        const size_t titles_before = window.writes_to("title").size();
        const size_t waits_before = sleeper.waits_from(1000).size();

        run_as_worker([&] { item_search_harvest(ctx); });
        const Texts handed = window.column(kCollectedBuyers, 1);
        // The waits are those of the review harvest: 1 s per mall retry and per unknown answer,
        // the 6-minute pause and 1 s for the throttle answer.
        std::vector<int> long_waits = sleeper.waits_from(1000);
        long_waits.erase(long_waits.begin(), long_waits.begin() + static_cast<long>(waits_before));
        std::sort(long_waits.begin(), long_waits.end());
        EXPECT_EQ(long_waits, (std::vector<int>{1000, 1000, 1000, 1000, 1000, 1000, 360000}));
        const Texts titles = window.writes_to("title");
        EXPECT_EQ(Texts(titles.begin() + static_cast<long>(titles_before), titles.end()),
                  (Texts{kDelaying, kRunning}));
        EXPECT_EQ(window.writes_to(kStatusLabel).back(), kFinished + std::to_string(handed.size()));

        market.forget_asks();
        review_items();
        const Texts reviewed = window.column(kBuyerList, 1);
        ASSERT_EQ(reviewed.size(), 11u);
        if (threads == 1)
            EXPECT_EQ(handed, reviewed);
        else
            EXPECT_EQ(sorted(handed), sorted(reviewed));
        EXPECT_TRUE(messages().empty());
        EXPECT_EQ(values.RunningUnits.load(), 0);
    }
}

TEST_F(AnswerWatchTest, ALastingBlockWaitsForTheUserAndResumesWithTheCookieEarned) {
    const std::vector<Plan> plans = {{{{"t0a"}, {"t0b"}}, {}, {}}, {{{"t1a"}}, {}, {}}};
    search.mall_every = 0;
    list(plans);
    struct Case {
        MarketBlock::Kind kind;
        std::string challenge;
    };
    const Case cases[] = {
        {MarketBlock::Kind::Redirect, Marketplace::challenge_url()},
        {MarketBlock::Kind::Rgv587, Marketplace::challenge_url()},
        // A refusal that names no check sends the user to the login page.
        {MarketBlock::Kind::Forbidden, hosts.login_start_url},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        clear_cookies();
        market.clear_urls();
        window.clear_rows(kUrlList);
        window.clear_rows(kBuyerList);
        values.ReviewCursor = 0;
        market.set_block({c.kind, market_host::kReview, "x5sec=passed", -1});
        // The user passes the check once the browser shows it.
        std::atomic<bool> done{false};
        std::thread user([&] {
            while (!done) {
                for (const MemoryWindow::Write& w : window.writes())
                    if (w.control == "login_page" && w.text == c.challenge) {
                        add_cookie({"x5sec", "passed", ".taobao.test", "/", false, false, {}});
                        return;
                    }
                std::this_thread::sleep_for(2ms);
            }
        });
        const size_t titles_before = window.writes_to("title").size();
        // Slow enough that the user's cookie comes within the 30 s before the next probe.
        ScaledSleeper slower(10);
        HarvestContext waiting{window, values, hosts, slower};
        review_items(waiting);
        done = true;
        user.join();

        EXPECT_EQ(window.column(kBuyerList, 1), (Texts{"t0a", "t0b", "t1a"}));
        const Texts titles = window.writes_to("title");
        ASSERT_GT(titles.size(), titles_before);
        EXPECT_EQ(titles[titles_before], kVerify);
        // Ten refusals, then the probe the cookie set off, which passes.
        std::vector<RecordedRequest> reviews;
        for (const RecordedRequest& r : market.server().requests())
            if (r.target.find("/feedRateList.htm") != std::string::npos) reviews.push_back(r);
        market.server().clear_requests();
        ASSERT_EQ(reviews.size(), 13u);
        for (size_t i = 0; i < reviews.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(reviews[i].header("Cookie"), i < 10 ? "" : "x5sec=passed");
        }
        EXPECT_TRUE(messages().empty());
        EXPECT_EQ(values.WatchEnding.load(), AnswerKind::Marked);  // passed, not ended
    }
    market.clear_block();
}

TEST_F(AnswerWatchTest, ABlockedServiceIsProbedEveryThirtySeconds) {
    search.mall_every = 0;
    list({{{{"t0a"}}, {}, {}}, {{{"t1a"}}, {}, {}}});
    // The marketplace lets the 13th ask through by itself; no cookie comes.
    market.set_block({MarketBlock::Kind::Redirect, market_host::kReview, "", 12});
    review_items();
    std::vector<int> expected(9, 1000);      // asks 1..9
    for (int pause = 0; pause < 3; ++pause)  // after the 10th, 11th and 12th
        expected.insert(expected.end(), 30, 1000);
    EXPECT_EQ(sleeper.waits(), expected);
    EXPECT_EQ(window.column(kBuyerList, 1), (Texts{"t0a", "t1a"}));
    EXPECT_EQ(asked("/feedRateList.htm").size(), 14u);
    market.clear_block();
}

// Keeps what the results store would be handed of a report.
struct ReportSink : AnswerSink {
    void page(const HarvestedPage&) override {}
    void url_claimed(int) override {}
    void url_done(int) override {}
    void reported(std::string_view service, std::string_view address,
                  std::string_view body) override {
        std::lock_guard lock(mutex);
        reports.push_back({std::string(service), std::string(address), std::string(body)});
    }
    std::mutex mutex;
    std::vector<std::vector<std::string>> reports;
};

TEST_F(AnswerWatchTest, TenUnknownAnswersInARowAreSavedAndReported) {
    // The mall item's page 1 never holds its marker again.
    list({{{{"m0a"}}, {}, {{1, 1000}}}, {{{"t1a"}}, {}, {}}});
    for (const bool hand_over : {true, false}) {
        SCOPED_TRACE(hand_over);
        ReportSink sink;
        ctx.sink = &sink;
        market.forget_asks();
        market.clear_urls();
        {
            std::lock_guard lock(mutex);
            boxes.clear();
        }
        std::filesystem::remove_all(values.ReportsFolder);
        if (hand_over) {
            run_as_worker([&] { item_search_harvest(ctx); });
            EXPECT_NE(window.writes_to(kStatusLabel).back().find("No.1"), std::string::npos);
        } else {
            review_items();
        }
        EXPECT_EQ(asked("/list_detail_rate.htm").size(), 10u);
        EXPECT_TRUE(asked("/feedRateList.htm").empty());  // the run ended there
        const std::vector<std::filesystem::path> saved = reports();
        ASSERT_EQ(saved.size(), 1u);
        const Bytes body = file_read_all(saved[0]);
        EXPECT_NE(std::string(body.begin(), body.end()).find("\"rateList\":[]"), std::string::npos);
        // The same answer goes to the results store, once.
        ctx.sink = nullptr;
        ASSERT_EQ(sink.reports.size(), 1u);
        EXPECT_EQ(sink.reports[0][0], "rate.tmall.test/list_detail_rate.htm");
        EXPECT_NE(sink.reports[0][1].find("/list_detail_rate.htm"), std::string::npos);
        EXPECT_EQ(sink.reports[0][2], std::string(body.begin(), body.end()));
        const Texts said = messages();
        ASSERT_EQ(said.size(), 1u);
        const std::u8string path = saved[0].u8string();
        for (const std::string& part :
             {std::string("rate.tmall.test/list_detail_rate.htm"), std::string("lastPage"),
              utf8_to_gbk(std::string(path.begin(), path.end()))})
            EXPECT_NE(said[0].find(part), std::string::npos) << part;
        EXPECT_EQ(values.RunningUnits.load(), 0);
        // What a front end without message boxes reads.
        EXPECT_EQ(values.WatchEnding.load(), AnswerKind::Unrecognised);
        values.WatchEnding = AnswerKind::Marked;
    }
}

TEST_F(AnswerWatchTest, NoAddressIsAskedMoreThanSixtyTimesInARow) {
    list({{{{"m0a"}}, {}, {}}, {{{"t1a"}}, {{1, 1000}}, {}}});
    review_items();
    EXPECT_EQ(asked("/feedRateList.htm").size(), 60u);
    std::vector<int> expected;
    for (int i = 0; i < 59; ++i) {
        expected.push_back(360000);
        expected.push_back(1000);
    }
    EXPECT_EQ(sleeper.waits(), expected);
    const Texts said = messages();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("60"), std::string::npos);
    EXPECT_NE(said[0].find(utf8_to_gbk("限流")), std::string::npos);
    EXPECT_EQ(window.column(kBuyerList, 1), (Texts{"m0a"}));
    EXPECT_EQ(values.WatchEnding.load(), AnswerKind::Throttle);
}

TEST_F(AnswerWatchTest, ASearchRowThatRunsIntoTheNextItemIsNoRow) {
    search.total_pages = 1;
    search.items_per_page = 5;
    search.without_user_id = {{1, 2}};
    market.set_search(search);
    window.append_rows(kItemList, {{"1", "kept", "1", "2"}});
    run_as_worker([&] {
        item_search_harvest(ctx, [](HarvestContext& c, int, const Text&, std::atomic<bool>& f) {
            f = false;
            c.values.RunningUnits.fetch_sub(1);
        });
    });
    // No item is paired with the next one's shop; nothing is handed over.
    EXPECT_TRUE(window.rows(kItemList).empty());
    EXPECT_EQ(reports().size(), 1u);
    const Texts said = messages();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("s.taobao.test/search"), std::string::npos);
}

TEST_F(AnswerWatchTest, AFirstSearchPageWithoutItsPageCountIsReportedOnlyWhenSignedIn) {
    const std::string base = "http://s.taobao.test/search?q=shoes&tab=all";
    const std::string changed = R"(<script>g_page_config = {"pager":{"pageCount":3}};</script>)";
    const std::string nothing = R"(<script>g_page_config = {"mods":{"noresult":{}}};</script>)";
    const struct {
        const char* rule;
        std::string page;
        bool signed_in;
        size_t reported;
    } cases[] = {
        {"changed page, signed in", changed, true, 1},
        {"changed page, not signed in", changed, false, 0},
        {"nothing found, signed in", nothing, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        clear_cookies();
        std::filesystem::remove_all(values.ReportsFolder);
        {
            std::lock_guard lock(mutex);
            boxes.clear();
        }
        if (c.signed_in) add_cookie({"unb", "2200", ".taobao.test", "/", false, false, {}});
        market.set_answer(base, c.page);
        run_as_worker([&] { item_search_harvest(ctx); });
        EXPECT_EQ(window.writes_to(kStatusLabel).back(), kLoginNeeded);
        EXPECT_EQ(messages().size(), c.reported);
        EXPECT_EQ(reports().size(), c.reported);
    }
}

}  // namespace
