// The item page's list buttons through the real window: the exported files byte for byte, the
// addresses handed to the buyer page's URL list, and a refilled URL list harvested in full.
#include "app/page1_buttons.h"

#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <optional>

#include "app/file_dialog.h"
#include "harvest/item_search_harvest.h"
#include "harvest/review_harvest.h"
#include "harvest/sleeper.h"
#include "runtime/convert.h"
#include "tests/app/bound_window_fixture.h"
#include "tests/support/marketplace.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Rows = std::vector<std::vector<Text>>;

constexpr const char* kItems = "超级列表框2";
constexpr const char* kUrls = "超级列表框2_URL";
constexpr const char* kCollected = "超级列表框1";
constexpr const char* kLabel = "标签8";

class Page1Buttons : public BoundWindow {
protected:
    void SetUp() override {
        BoundWindow::SetUp();
        ASSERT_TRUE(market_.ok());
        dir_ = fs::temp_directory_path() / ("zembra_page1_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        BoundWindow::TearDown();
        fs::remove_all(dir_);
    }

    // The next dialog is confirmed with path (or cancelled); records how it was set up.
    void answer(std::optional<fs::path> path) {
        state().file_dialog.set_answerer([this, path](const FileDialog& dialog) {
            seen_mode_ = dialog.mode();
            seen_extension_ = dialog.default_extension();
            seen_filter_ = dialog.filter();
            return path;
        });
    }
    static std::optional<std::string> read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void fill(const char* list, const Rows& rows) {
        ops().clear_rows(list);
        ops().append_rows(list, rows);
    }

    // A keyword harvest of the loopback search on a worker thread, as the harvest button runs it,
    // with every review address taken and dropped at once.
    void harvest_items(int pages, int per_page) {
        MarketSearch search;
        search.total_pages = pages;
        search.items_per_page = per_page;
        search_ = search;
        market_.set_search(search);
        state().values.SearchKeyword = "shoes";
        state().values.FilterParameter = "&tab=all";
        state().values.PageLimit = pages;
        state().values.ThreadCount = 1;
        auto done = std::async(std::launch::async, [this] {
            ScaledSleeper sleeper{1000};
            HarvestContext ctx{ops(), state().values, hosts_, sleeper};
            item_search_harvest(
                ctx, [](HarvestContext& c, int, const Text&, std::atomic<bool>& handing_over) {
                    handing_over = false;
                    c.values.RunningUnits.fetch_sub(1);
                });
        });
        ASSERT_TRUE(pump_until([&] { return done.wait_for(0s) == std::future_status::ready; }));
        ASSERT_EQ(ops().row_count(kItems), pages * per_page);
    }
    // The addresses a fetch can use for the items of the harvest above, in row order: the search
    // writes mall items with "https:", marketplace items without a scheme.
    std::vector<Text> harvested_addresses() const {
        std::vector<Text> out;
        for (int page = 1; page <= search_.total_pages; ++page)
            for (int i = 0; i < search_.items_per_page; ++i) {
                const MarketSearch::Entry e = search_.entry(page, i);
                out.push_back(e.mall ? "https://detail.tmall.test/item.htm?id=" + e.nid +
                                           "&ns=1&abbucket=7"
                                     : "http://item.taobao.test/item.htm?id=" + e.nid + "&ns=1");
            }
        return out;
    }
    static std::string lines(const std::vector<Text>& texts) {
        std::string out;
        for (const Text& t : texts)
            out += t + "\r\n";
        return out;
    }

    Marketplace market_;
    ProxyEnvironment proxy_{market_};
    HostSettings hosts_ = Marketplace::hosts();
    MarketSearch search_;
    fs::path dir_;
    FileDialog::Mode seen_mode_ = FileDialog::Mode::Open;
    Text seen_extension_;
    Text seen_filter_;
};

TEST_F(Page1Buttons, ExportUrlsWritesTheHarvestedAddressesReadyToImport) {
    harvest_items(2, 5);
    const fs::path file = dir_ / "urls.txt";
    answer(file);
    click("按钮2");
    EXPECT_EQ(read(file), lines(harvested_addresses()));
    EXPECT_EQ(messages(), std::vector<Text>{gbk("导出成功")});
    EXPECT_EQ(seen_mode_, FileDialog::Mode::Save);
    EXPECT_EQ(seen_extension_, "txt");
    EXPECT_EQ(seen_filter_, gbk("文本文件(*.txt)|*.txt|CSV (*.csv)|*.csv|Excel (*.xlsx)|*.xlsx"));

    // The file goes straight into the buyer page as its URL list.
    answer(file);
    click("按钮2_导入");
    EXPECT_EQ(column(kUrls, 0), harvested_addresses());
}

TEST_F(Page1Buttons, ExportFilesByteForByte) {
    const struct {
        const char* rule;
        const char* button;
        const char* list;
        Rows rows;
        std::string bytes;
    } cases[] = {
        {"addresses: empty list gives an empty file", "按钮2", kItems, {}, ""},
        {"addresses: only column 1, in row order, schemes added where missing",
         "按钮2",
         kItems,
         {{"1", "//b.test/item.htm?id=2", "2", "9"},
          {"2", "https://a.test/item.htm?id=1", "1", "9"},
          {"3", "c.test/item.htm?id=3", "3", "9"}},
         "http://b.test/item.htm?id=2\r\nhttps://a.test/item.htm?id=1\r\n"
         "http://c.test/item.htm?id=3\r\n"},
        {"addresses: empty cells left out, duplicates kept",
         "按钮2",
         kItems,
         {{"1", "//a.test/x"}, {"2", ""}, {"3", "//a.test/x"}, {"4"}},
         "http://a.test/x\r\nhttp://a.test/x\r\n"},
        {"addresses: GBK bytes kept",
         "按钮2",
         kItems,
         {{"1", "//s.test/q=\xC3\xAB\xD2\xC2"}},
         "http://s.test/q=\xC3\xAB\xD2\xC2\r\n"},
        {"buyers: empty list gives an empty file", "按钮4", kCollected, {}, ""},
        {"buyers: column 1 of every row, in row order",
         "按钮4",
         kCollected,
         {{"1", "tb_buyer9", "x"}, {"2", "12345"}, {"3", "tb_buyer1"}},
         "tb_buyer9\r\n12345\r\ntb_buyer1\r\n"},
        {"buyers: empty and GBK cells kept as lines",
         "按钮4",
         kCollected,
         {{"1", ""}, {"2", "\xD0\xA1\xC3\xF7"}},
         "\r\n\xD0\xA1\xC3\xF7\r\n"},
    };
    int n = 0;
    for (const auto& c : cases) {
        fill(c.list, c.rows);
        const fs::path file = dir_ / ("out" + std::to_string(n++) + ".txt");
        const size_t before = messages().size();
        answer(file);
        click(c.button);
        EXPECT_EQ(read(file), c.bytes) << c.rule;
        EXPECT_EQ(messages().size(), before + 1) << c.rule;
        EXPECT_EQ(seen_mode_, FileDialog::Mode::Save) << c.rule;
        EXPECT_EQ(seen_filter_,
                  gbk("文本文件(*.txt)|*.txt|CSV (*.csv)|*.csv|Excel (*.xlsx)|*.xlsx"))
            << c.rule;
    }
}

TEST_F(Page1Buttons, UrlProcessingAppendsTheAddressesAndCountsThem) {
    harvest_items(2, 4);
    fill(kUrls, {{"kept-a"}, {"kept-b"}});
    click("按钮3");
    std::vector<Text> expected{"kept-a", "kept-b"};
    for (const Text& a : harvested_addresses())
        expected.push_back(a);
    EXPECT_EQ(column(kUrls, 0), expected);
    EXPECT_EQ(ops().text(kLabel), gbk("已添加到URL列表：") + "8");

    // Each click hands the list over again; the item list itself is left alone.
    click("按钮3");
    EXPECT_EQ(ops().row_count(kUrls), 18);
    EXPECT_EQ(ops().row_count(kItems), 8);
    EXPECT_EQ(ops().cell(kUrls, 17, 0), harvested_addresses().back());
}

TEST_F(Page1Buttons, UrlProcessingSkipsEmptyAddressesAndKeepsOrderAcrossBatches) {
    const struct {
        const char* rule;
        int rows;
        int empty_every;  // row % empty_every == 0 has no address; 0: none
        int added;
    } cases[] = {
        {"empty item list", 0, 0, 0},
        {"only empty addresses", 3, 1, 0},
        {"every third empty", 9, 3, 6},
        {"longer than one batch", 20000, 0, 20000},
    };
    for (const auto& c : cases) {
        Rows rows;
        for (int r = 0; r < c.rows; ++r) {
            const bool empty = c.empty_every > 0 && r % c.empty_every == 0;
            rows.push_back({to_text(r + 1), empty ? Text() : "//i.test/?id=" + to_text(r)});
        }
        fill(kItems, rows);
        ops().clear_rows(kUrls);
        click("按钮3");
        EXPECT_EQ(ops().text(kLabel), gbk("已添加到URL列表：") + to_text(c.added)) << c.rule;
        const std::vector<Text> urls = column(kUrls, 0);
        ASSERT_EQ(urls.size(), static_cast<size_t>(c.added)) << c.rule;
        size_t next = 0;
        for (int r = 0; r < c.rows; ++r) {
            if (c.empty_every > 0 && r % c.empty_every == 0) continue;
            ASSERT_EQ(urls[next++], "http://i.test/?id=" + to_text(r)) << c.rule << " row " << r;
        }
    }
}

// The review workers with a stand-in harvest that records each address it claims; the one of
// `hold` waits until released.
class RefilledUrlList : public Page1Buttons {
protected:
    void SetUp() override {
        Page1Buttons::SetUp();
        // Claims its rows through the review harvest's own step, then records them.
        entries().review = [this](Window& w, AppState& s) {
            for (int row = claim_review_row(w, s.values); row >= 0;
                 row = claim_review_row(w, s.values)) {
                const Text url = w.cell(kUrls, row, 0);
                std::unique_lock lock(mutex_);
                seen_.push_back(url);
                changed_.notify_all();
                changed_.wait_for(lock, 10s, [&] { return url != hold_; });
            }
        };
    }
    std::vector<Text> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    void set_hold(Text url) {
        {
            std::lock_guard lock(mutex_);
            hold_ = std::move(url);
        }
        changed_.notify_all();
    }
    bool wait_seen(size_t n) {
        return pump_until([&] { return seen().size() >= n; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Text> seen_;
    Text hold_;
};

TEST_F(RefilledUrlList, ClearThenRefillHarvestsEveryNewRow) {
    const fs::path file = dir_ / "urls.txt";
    std::ofstream(file, std::ios::binary) << "u0\r\nu1\r\nu2\r\nu3\r\nu4\r\n";
    answer(file);
    click("按钮2_导入");
    click("按钮3_批量获取");
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    EXPECT_EQ(seen(), (std::vector<Text>{"u0", "u1", "u2", "u3", "u4"}));

    // Fewer new rows than were done: without rewinding, none of them would be reached.
    click("按钮7");
    EXPECT_EQ(state().values.ReviewCursor.load(), 0);
    fill(kItems, {{"1", "//i.test/?id=1"}, {"2", "//i.test/?id=2"}});
    click("按钮3");
    answer(file);
    click("按钮2_导入");
    click("按钮3_批量获取");
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    EXPECT_EQ(seen(), (std::vector<Text>{"u0", "u1", "u2", "u3", "u4", "http://i.test/?id=1",
                                         "http://i.test/?id=2", "u0", "u1", "u2", "u3", "u4"}));
}

TEST_F(RefilledUrlList, RowClaimedBeforeTheClearFinishesAsItWas) {
    fill(kUrls, {{"old0"}, {"old1"}, {"old2"}});
    set_hold("old1");
    click("按钮3_批量获取");
    ASSERT_TRUE(wait_seen(2));  // the worker is inside old1
    click("按钮7");
    fill(kUrls, {{"new0"}, {"new1"}});
    set_hold({});
    ASSERT_TRUE(state().WorkerHandles.wait_idle(10000));
    EXPECT_EQ(seen(), (std::vector<Text>{"old0", "old1", "new0", "new1"}));
    EXPECT_EQ(state().values.ReviewCursor.load(), 2);
}

}  // namespace

BOUND_WINDOW_TEST_MAIN()
