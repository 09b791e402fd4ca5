// The harvests end to end through the real window, offscreen: the buttons run the code that
// plug_harvests puts in the hooks, and every marketplace host is reached through the loopback
// marketplace acting as the HTTP proxy.
#include <QComboBox>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/harvest_wiring.h"
#include "harvest/item_search_harvest.h"
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
        plug_harvests(state());
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

}  // namespace

BOUND_WINDOW_TEST_MAIN()
