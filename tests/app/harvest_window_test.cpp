// The harvests end to end through the real window, offscreen: the buttons run the program's own
// harvest entries, and every marketplace host is reached through the loopback
// marketplace acting as the HTTP proxy.
#include <QComboBox>
#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/harvest_entries.h"
#include "harvest/harvest_context.h"
#include "harvest/item_search_harvest.h"
#include "harvest/review_harvest.h"
#include "harvest/sleeper.h"
#include "tests/app/bound_window_fixture.h"
#include "tests/support/marketplace.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Texts = std::vector<Text>;

constexpr const char* kItems = "超级列表框2";
constexpr const char* kHandoverBuyers = "超级列表框1";
constexpr const char* kUrls = "超级列表框2_URL";
constexpr const char* kBuyers = "超级列表框1_user";
constexpr const char* kHarvestButton = "按钮_采集";

class HarvestWindow : public BoundWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        BoundWindow::SetUp();
        state().hosts = Marketplace::hosts();
        entries() = program_harvests();
    }

    MarketItem add_item(const std::string& id, MarketItem::Kind kind,
                        std::vector<std::vector<std::string>> pages) {
        MarketItem item;
        item.id = id;
        item.seller = "9" + id;
        item.kind = kind;
        item.pages = std::move(pages);
        market.add_item(item);
        return item;
    }

    void select_mode(int mode) {
        window().findChild<QComboBox*>(QString::fromUtf8("组合框1"))->setCurrentIndex(mode);
    }

    Texts row(const char* list, int r, int columns) {
        Texts cells;
        for (int c = 0; c < columns; ++c)
            cells.push_back(ops().cell(list, r, c));
        return cells;
    }

    size_t requests_of(const std::string& url) {
        const auto urls = market.urls();
        return static_cast<size_t>(std::count(urls.begin(), urls.end(), url));
    }

    bool workers_idle() {
        return pump_until([this] { return state().WorkerHandles.live() == 0; });
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
};

TEST_F(HarvestWindow, KeywordHarvestListsItemsAndTheBuyersOfItsHandOver) {
    MarketSearch search;
    search.items_per_page = 4;
    market.set_search(search);
    // Mall and marketplace items alternate; the buyers of each, page by page.
    const std::vector<std::vector<std::vector<std::string>>> reviews = {
        {{"ma", "mb"}, {"mc"}}, {{"ta"}}, {}, {{"tb", "tc"}, {"ta"}}};
    std::vector<std::string> buyers;
    for (int i = 0; i < 4; ++i) {
        const MarketSearch::Entry e = search.entry(1, i);
        add_item(e.nid, e.mall ? MarketItem::Kind::Mall : MarketItem::Kind::Marketplace,
                 reviews[i]);
        for (const auto& page : reviews[i])
            buyers.insert(buyers.end(), page.begin(), page.end());
    }
    ops().set_text("编辑框_关键字", "shoes");
    ops().set_text("编辑框1", "1");

    click(kHarvestButton);
    const Text finished = gbk("采集完毕，共计：") + std::to_string(buyers.size());
    ASSERT_TRUE(pump_until([&] { return ops().text("标签8") == finished; })) << ops().text("标签8");

    Texts addresses;
    for (int i = 0; i < 4; ++i)
        addresses.push_back(search.entry(1, i).detail_url);
    EXPECT_EQ(column(kItems, 1), addresses);
    Texts numbers;
    for (size_t n = 1; n <= buyers.size(); ++n)
        numbers.push_back(std::to_string(n));
    EXPECT_EQ(column(kHandoverBuyers, 0), numbers);
    EXPECT_EQ(column(kHandoverBuyers, 1), Texts(buyers.begin(), buyers.end()));
    EXPECT_EQ(state().values.RunningUnits.load(), 0);

    // The worker leaves the button to the user; the next click stops and restores it.
    EXPECT_EQ(ops().text(kHarvestButton), gbk("停止"));
    click(kHarvestButton);
    EXPECT_EQ(ops().text(kHarvestButton), gbk("采集"));
    EXPECT_TRUE(messages().empty());
}

TEST_F(HarvestWindow, StopDuringTheHandOverEndsItAndListsNothingMore) {
    MarketSearch search;
    search.items_per_page = 3;
    market.set_search(search);
    for (int i = 0; i < 3; ++i) {
        const MarketSearch::Entry e = search.entry(1, i);
        add_item(e.nid, e.mall ? MarketItem::Kind::Mall : MarketItem::Kind::Marketplace,
                 {{"p1_" + e.nid}, {"p2_" + e.nid}});
    }
    // Page 2 of the second item is held back until the test ends.
    const MarketSearch::Entry second = search.entry(1, 1);
    const std::string held =
        review_address(state().hosts, second.detail_url, second.nid, second.user_id, false) + "2";
    struct Hold {
        std::mutex mutex;
        std::condition_variable changed;
        bool asked = false, released = false;
        ~Hold() { release(); }
        void release() {
            {
                std::lock_guard lock(mutex);
                released = true;
            }
            changed.notify_all();
        }
    } hold;
    market.set_before_answer([&](const std::string& url) {
        if (url != held) return;
        std::unique_lock lock(hold.mutex);
        hold.asked = true;
        hold.changed.wait_for(lock, 10s, [&] { return hold.released; });
    });
    ops().set_text("编辑框_关键字", "shoes");
    ops().set_text("编辑框1", "1");

    click(kHarvestButton);
    ASSERT_TRUE(pump_until([&] {
        std::lock_guard lock(hold.mutex);
        return hold.asked;
    }));
    const Texts at_stop = column(kHandoverBuyers, 1);
    click(kHarvestButton);
    // The run and its unit end while the page is still outstanding.
    EXPECT_TRUE(workers_idle());
    hold.release();
    pump_for(50ms);
    market.set_before_answer(nullptr);

    EXPECT_EQ(at_stop, (Texts{"p1_" + search.entry(1, 0).nid, "p2_" + search.entry(1, 0).nid,
                              "p1_" + second.nid}));
    EXPECT_EQ(column(kHandoverBuyers, 1), at_stop);
    EXPECT_EQ(ops().text("标签8"), "No.2 / 3");
    EXPECT_EQ(market.urls().back(), held);
    EXPECT_EQ(state().values.RunningUnits.load(), 0);
}

TEST_F(HarvestWindow, ShopHarvestLandsItsLinksInTheUrlList) {
    MarketShop shop;
    shop.host = market_host::kShopB;
    shop.kind_a = false;
    shop.pages = 2;
    market.add_shop(shop);
    window().findChild<QComboBox*>(QString::fromUtf8("组合框1"))->setCurrentIndex(1);
    ops().add_item("列表框_店铺", std::string("http://") + market_host::kShopB + "/");

    // No keyword is needed in shop mode.
    click(kHarvestButton);
    ASSERT_TRUE(pump_until([&] { return ops().row_count(kUrls) == 6; }));
    ASSERT_TRUE(workers_idle());

    Texts urls;
    for (int page = 1; page <= 2; ++page)
        for (const std::string& link : shop.links(page))
            urls.push_back("http:" + link);
    EXPECT_EQ(column(kUrls, 0), urls);
    EXPECT_EQ(ops().item_count("列表框_页面"), 6);
    click(kHarvestButton);
    EXPECT_TRUE(messages().empty());
}

TEST_F(HarvestWindow, ExportAfterAReviewHarvestWritesExactlyTheHarvestedIds) {
    const MarketItem mall = add_item("41", MarketItem::Kind::Mall, {{"m1", "m2"}, {"m3"}});
    const MarketItem shop = add_item("42", MarketItem::Kind::Marketplace, {{"t1"}, {"t2", "m1"}});
    const MarketItem plain = add_item("43", MarketItem::Kind::Plain, {{"never"}});
    ops().append_rows(kUrls, {{mall.url()}, {plain.url()}, {shop.url()}});

    click("按钮3_批量获取");
    ASSERT_TRUE(workers_idle());
    const Texts ids{"m1", "m2", "m3", "t1", "t2", "m1"};
    ASSERT_EQ(column(kBuyers, 1), ids);

    const fs::path out = fs::temp_directory_path() /
                         ("zembra_harvest_window_" + std::to_string(::getpid()) + ".txt");
    state().file_dialog.set_answerer([out](const FileDialog&) { return out; });
    click("按钮5_导出");
    std::ifstream in(out, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    fs::remove(out);
    EXPECT_EQ(bytes, "m1\r\nm2\r\nm3\r\nt1\r\nt2\r\nm1\r\n");
    EXPECT_EQ(messages(), Texts{gbk("导出成功")});
}

TEST_F(HarvestWindow, HarvestButtonRefusesWrongInputsWithItsMessage) {
    struct Case {
        const char* name;
        int mode;
        const char* keyword;
        const char* low;
        const char* high;
        const char* message;
    };
    const Case cases[] = {
        {"empty keyword", 0, "", "", "", "关键字没有填写!"},
        {"lower above upper", 0, "shoes", "100", "50", "价格区间填写错误!"},
        {"decimal lower above upper", 0, "shoes", "9.5", "9.4", "价格区间填写错误!"},
        {"keyword checked before prices", 0, "", "100", "50", "关键字没有填写!"},
        {"shop mode needs no keyword, still a sound range", 1, "", "100", "50",
         "价格区间填写错误!"},
    };
    size_t shown = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        select_mode(c.mode);
        ops().set_text("编辑框_关键字", gbk(c.keyword));
        ops().set_text("编辑框_低", c.low);
        ops().set_text("编辑框_高", c.high);
        click(kHarvestButton);
        pump_for(30ms);
        ASSERT_EQ(messages().size(), ++shown);
        EXPECT_EQ(messages().back(), gbk(c.message));
        EXPECT_EQ(ops().text(kHarvestButton), gbk("采集"));
        EXPECT_FALSE(state().WorkerHandles.occupied(0));
        EXPECT_EQ(market.request_count(), 0u);
    }

    // A sound start, then a Stop click is refused the same way until the keyword is back.
    MarketSearch search;
    search.logged_out = true;
    market.set_search(search);
    select_mode(0);
    ops().set_text("编辑框_关键字", "shoes");
    ops().set_text("编辑框_低", "");
    ops().set_text("编辑框_高", "");
    click(kHarvestButton);
    EXPECT_EQ(ops().text(kHarvestButton), gbk("停止"));
    ASSERT_TRUE(workers_idle());
    EXPECT_EQ(ops().text("标签8"), gbk("需要登陆！"));
    EXPECT_EQ(market.urls(),
              std::vector<std::string>{"http://s.taobao.test/search?q=shoes&tab=all"});
    ops().set_text("编辑框_关键字", "");
    click(kHarvestButton);
    EXPECT_EQ(messages().back(), gbk("关键字没有填写!"));
    EXPECT_EQ(ops().text(kHarvestButton), gbk("停止"));
    ops().set_text("编辑框_关键字", "shoes");
    click(kHarvestButton);
    EXPECT_EQ(ops().text(kHarvestButton), gbk("采集"));
    EXPECT_EQ(messages().size(), shown + 1);
}

TEST_F(HarvestWindow, ItemHarvestOfThreePagesListsEveryItemWithItsAddresses) {
    MarketSearch search;
    search.total_pages = 5;
    search.mall_every = 0;  // with 只采集天猫 nothing is handed over
    market.set_search(search);
    // Progress as it stands when each result page is asked for.
    std::mutex seen_mutex;
    std::vector<std::pair<Text, Text>> seen;
    market.set_before_answer([&](const std::string& url) {
        if (url.find("&s=") == std::string::npos) return;
        std::pair<Text, Text> panes{ops().pane(7), ops().pane(5)};
        std::lock_guard lock(seen_mutex);
        seen.push_back(panes);
    });
    ops().append_rows(kHandoverBuyers, {{"1", "old1"}, {"2", "old2"}});
    ops().set_text("编辑框_关键字", gbk("红 鞋"));
    ops().set_text("编辑框1", "3");
    ops().set_text("编辑框_低", "10");
    ops().set_text("编辑框_高", "200");
    click("单选框2");
    window().findChild<QAbstractButton*>(QString::fromUtf8("选择框1"))->setChecked(true);

    click(kHarvestButton);
    const Text finished = gbk("采集完毕，共计：0");
    ASSERT_TRUE(pump_until([&] { return ops().text("标签8") == finished; })) << ops().text("标签8");
    market.set_before_answer(nullptr);

    const std::string base =
        "http://s.taobao.test/search?q=%BA%EC+%D0%AC&sort=sale-desc"
        "&filter=reserve_price%5B10%2C200%5D&tab=mall";
    const std::string page = base + "&promote=0&bcoffset=-4&s=";
    EXPECT_EQ(market.urls(),
              (std::vector<std::string>{base, page + "0", page + "44", page + "88"}));
    ASSERT_EQ(ops().row_count(kItems), 132);
    const auto expected_row = [&](int number, const MarketSearch::Entry& e) {
        return Texts{std::to_string(number), e.detail_url, e.nid, e.user_id};
    };
    EXPECT_EQ(row(kItems, 0, 4), expected_row(1, search.entry(1, 0)));
    EXPECT_EQ(row(kItems, 44, 4), expected_row(45, search.entry(2, 0)));
    EXPECT_EQ(row(kItems, 131, 4), expected_row(132, search.entry(3, 43)));
    {
        std::lock_guard lock(seen_mutex);
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[0].first, "1/5");
        EXPECT_EQ(seen[1], (std::pair<Text, Text>{"2/5", "44"}));
        EXPECT_EQ(seen[2], (std::pair<Text, Text>{"3/5", "88"}));
    }
    EXPECT_EQ(ops().pane(7), "3/5");
    // After the pages, pane 5 counts the buyer list as it stood before the hand-over cleared it.
    EXPECT_EQ(ops().pane(5), "2");
    EXPECT_EQ(ops().row_count(kHandoverBuyers), 0);
    click(kHarvestButton);
}

TEST_F(HarvestWindow, ReviewHarvestOfAnImportedListWaitsOutTheThrottling) {
    // The real program pauses 6 minutes on throttling: the worker here runs on a sped-up clock.
    entries().review = [](Window& window, AppState& s) {
        ScaledSleeper sleeper(1000);
        HarvestContext ctx{window, s.values, s.hosts, sleeper};
        review_worker(ctx);
    };
    const MarketItem first = add_item("71", MarketItem::Kind::Mall, {{"m1", "m2"}, {"m3"}});
    MarketItem throttled;
    throttled.id = "72";
    throttled.seller = "972";
    throttled.pages = {{"t1", "t1", "t2"}, {"t3"}};
    throttled.throttled = {{2, 1}};
    market.add_item(throttled);
    const MarketItem third = add_item("73", MarketItem::Kind::Mall, {{"m4"}});
    const MarketItem last = add_item("74", MarketItem::Kind::Marketplace, {{"t4"}, {"t5", "m1"}});
    const std::string page2 =
        "http://rate.taobao.test/feedRateList.htm?_ksTS=1432983822760_2212&callback="
        "jsonp_reviews_list&userNumId=972&auctionNumId=72&siteID=4&currentPageNum=2&rateType=3"
        "&orderType=sort_weight&showContent=1&attribute=&ua=";
    std::mutex title_mutex;
    Texts titles;  // the title whenever the throttled page is asked for
    market.set_before_answer([&](const std::string& url) {
        if (url != page2) return;
        Text title = ops().title();
        std::lock_guard lock(title_mutex);
        titles.push_back(title);
    });

    const fs::path list =
        fs::temp_directory_path() / ("zembra_review_urls_" + std::to_string(::getpid()) + ".txt");
    const Texts urls{first.url(), throttled.url(), third.url(), last.url()};
    {
        std::ofstream out(list, std::ios::binary);
        for (const Text& url : urls)
            out << url << "\r\n";
    }
    state().file_dialog.set_answerer([list](const FileDialog&) { return list; });
    click("按钮2_导入");
    fs::remove(list);
    ASSERT_EQ(column(kUrls, 0), urls);

    click("按钮3_批量获取");
    ASSERT_TRUE(workers_idle());
    market.set_before_answer(nullptr);

    const Texts ids{"m1", "m2", "m3", "t1", "t2", "t3", "m4", "t4", "t5", "m1"};
    EXPECT_EQ(column(kBuyers, 1), ids);
    Texts numbers;
    for (size_t n = 1; n <= ids.size(); ++n)
        numbers.push_back(std::to_string(n));
    EXPECT_EQ(column(kBuyers, 0), numbers);
    EXPECT_EQ(requests_of(page2), 2u);
    {
        std::lock_guard lock(title_mutex);
        ASSERT_EQ(titles.size(), 2u);
        EXPECT_EQ(titles[1], gbk("延时6分钟获取"));
    }
    EXPECT_EQ(ops().title(), gbk("正常运行..."));
    EXPECT_EQ(ops().text("标签5_获取到的数量"), "10");
    EXPECT_EQ(ops().text("标签7_url"), gbk("正在获取第4个URL内容"));
}

TEST_F(HarvestWindow, ThreeReviewWorkersTakeEveryRowExactlyOnce) {
    const MarketItem::Kind kinds[] = {MarketItem::Kind::Mall, MarketItem::Kind::Marketplace,
                                      MarketItem::Kind::Plain};
    std::vector<MarketItem> items;
    std::vector<std::vector<Text>> rows;
    Texts buyers;
    for (int i = 0; i < 30; ++i) {
        const std::string id = std::to_string(800 + i);
        const MarketItem::Kind kind = kinds[i % 3];
        items.push_back(add_item(id, kind, {{"b" + id}}));
        rows.push_back({items.back().url()});
        if (kind != MarketItem::Kind::Plain) buyers.push_back("b" + id);
    }
    ops().append_rows(kUrls, rows);

    for (int click_count = 0; click_count < 3; ++click_count)
        click("按钮3_批量获取");
    ASSERT_TRUE(workers_idle());

    for (const MarketItem& item : items)
        EXPECT_EQ(requests_of(item.url()), 1u) << item.url();
    Texts got = column(kBuyers, 1);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, buyers);
    Texts numbers;
    for (size_t n = 1; n <= buyers.size(); ++n)
        numbers.push_back(std::to_string(n));
    EXPECT_EQ(column(kBuyers, 0), numbers);
    EXPECT_EQ(state().values.ReviewCursor.load(), 30);
}

}  // namespace

BOUND_WINDOW_TEST_MAIN()
