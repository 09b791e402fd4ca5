// zembra-cli's output files against what the window's harvest of the same run exports.
#include <algorithm>
#include <atomic>
#include <map>
#include <set>

#include "harvest/controls.h"
#include "harvest/exported_lists.h"
#include "harvest/harvest_button.h"
#include "harvest/item_search_harvest.h"
#include "harvest/member_lookup.h"
#include "harvest/review_harvest.h"
#include "harvest/shop_harvest.h"
#include "runtime/gbk.h"
#include "runtime/list_file.h"
#include "store/exporters.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/memory_window.h"

namespace {

using Kind = MarketItem::Kind;

// What the window's export writes to a text file.
std::string exported(const std::vector<Text>& lines) {
    return text_export(lines);
}

std::vector<std::string> lines_of(const std::string& file) {
    std::vector<std::string> lines;
    for_each_list_line(file, [&](std::string_view l) { lines.emplace_back(l); });
    return lines;
}

// The window's side of a run: its controls, values and hosts, and the export's bytes.
class WindowRun {
public:
    explicit WindowRun(const Marketplace& market) : proxy_(market) {}
    MemoryWindow window;
    ProgramValues values;
    HostSettings hosts = Marketplace::hosts();
    ScaledSleeper sleeper{1};
    HarvestContext ctx{window, values, hosts, sleeper};

private:
    ProxyEnvironment proxy_;
};

void no_handover(HarvestContext& ctx, int, const Text&, std::atomic<bool>& handing_over) {
    handing_over.store(false);
    ctx.values.RunningUnits.fetch_sub(1);
}

class CliHarvest : public CliTest {
protected:
    void add_review_items() {
        for (int i = 0; i < 9; ++i) {
            MarketItem item;
            item.id = std::to_string(7100 + i);
            item.seller = "88" + item.id;
            item.spu = "66" + item.id;
            item.kind = i % 3 == 0 ? Kind::Mall : (i % 3 == 1 ? Kind::Marketplace : Kind::Plain);
            for (int page = 0; page < 1 + i % 3; ++page) {
                std::vector<std::string> ids;
                for (int b = 0; b < 3; ++b)
                    ids.push_back("b" + item.id + "_" + std::to_string(page) + "_" +
                                  std::to_string(b));
                item.pages.push_back(ids);
            }
            urls.push_back(item.url());
            items.push_back(item);
            market.add_item(item);
        }
        std::string file;
        for (const auto& u : urls)
            file += u + "\r\n";
        write_bytes(dir / "urls.txt", file);
    }
    std::vector<std::string> urls;
    std::vector<MarketItem> items;
};

TEST_F(CliHarvest, SearchWritesTheWindowsItemExport) {
    MarketSearch search;
    search.total_pages = 5;
    search.items_per_page = 7;
    market.set_search(search);

    const ChildResult r =
        cli({"search", "--keyword", "连衣裙 夏", "--pages", "3", "--low", "10", "--high", "200",
             "--sort", "sales", "--out", (dir / "items.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto cli_urls = market.urls();

    market.clear_urls();
    WindowRun run(market);
    run.window.set_text("编辑框_关键字", utf8_to_gbk("连衣裙 夏"));
    run.window.set_text("编辑框1", "3");
    run.window.set_text("编辑框_低", "10");
    run.window.set_text("编辑框_高", "200");
    run.window.set_text("编辑框_线程", "1");
    run.window.set_text("按钮_采集", utf8_to_gbk("采集"));
    run.values.SortParameter = "&sort=sale-desc";
    HarvestWorkerControl control;
    control.start = [](HarvestMode) { return true; };
    harvest_button_click(run.window, run.values, control);
    item_search_harvest(run.ctx, no_handover);

    const std::string file = read_bytes(dir / "items.txt");
    EXPECT_EQ(lines_of(file).size(), 21u);
    EXPECT_EQ(file, exported(item_addresses(run.window)));
    // The same pages were asked for, in the same order.
    EXPECT_EQ(cli_urls, market.urls());
}

TEST_F(CliHarvest, ShopWritesTheUrlListTheWindowFills) {
    const auto [shop_a, shop_b] = add_two_shops();

    const ChildResult r = cli({"shop", shop_a, shop_b, "--out", (dir / "shop.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    WindowRun run(market);
    run.window.add_item("列表框_店铺", shop_a);
    run.window.add_item("列表框_店铺", shop_b);
    run.values.ThreadCount = 1;
    shop_item_harvest(run.ctx);

    const std::string file = read_bytes(dir / "shop.txt");
    EXPECT_EQ(lines_of(file).size(), 9u);
    EXPECT_EQ(file, exported(column_cells(run.window, "超级列表框2_URL", 0)));
}

TEST_F(CliHarvest, ReviewsWithOneWorkerWriteTheWindowsBuyerExport) {
    add_review_items();
    const ChildResult r = cli(
        {"reviews", "--urls", (dir / "urls.txt").string(), "--out", (dir / "buyers.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    WindowRun run(market);
    std::vector<std::vector<Text>> rows;
    for (const auto& u : urls)
        rows.push_back({u});
    run.window.append_rows(controls::kUrlList, rows);
    run.values.ReviewRunFlag = 1;
    review_worker(run.ctx);

    const std::string file = read_bytes(dir / "buyers.txt");
    EXPECT_EQ(lines_of(file).size(), 27u);  // the three plain items have no reviews read
    EXPECT_EQ(file, exported(buyer_ids(run.window)));
}

// Three workers interleave the items, so the file holds the same lines as the window's export,
// each item's buyers in their page order, items in any order.
TEST_F(CliHarvest, ReviewsWithThreeWorkersListEveryBuyerOnceInPageOrder) {
    add_review_items();
    const ChildResult r = cli({"reviews", "--urls", (dir / "urls.txt").string(), "--workers", "3",
                               "--out", (dir / "buyers.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    WindowRun run(market);
    std::vector<std::vector<Text>> rows;
    for (const auto& u : urls)
        rows.push_back({u});
    run.window.append_rows(controls::kUrlList, rows);
    run.values.ReviewRunFlag = 1;
    review_worker(run.ctx);

    const auto got = lines_of(read_bytes(dir / "buyers.txt"));
    const auto want = lines_of(exported(buyer_ids(run.window)));
    EXPECT_EQ(std::multiset<std::string>(got.begin(), got.end()),
              std::multiset<std::string>(want.begin(), want.end()));
    std::map<std::string, std::vector<std::string>> per_item_got, per_item_want;
    auto item_of = [](const std::string& id) { return id.substr(0, id.find('_')); };
    for (const auto& id : got)
        per_item_got[item_of(id)].push_back(id);
    for (const auto& id : want)
        per_item_want[item_of(id)].push_back(id);
    EXPECT_EQ(per_item_got, per_item_want);
    // Each address was read by one worker only.
    const auto asked = market.urls();
    for (const auto& u : urls)
        EXPECT_EQ(std::count(asked.begin(), asked.end(), u), 2) << u;  // the CLI's and ours
}

TEST_F(CliHarvest, MembersWriteOneIdPerNamedLineInRowOrder) {
    market.add_member(utf8_to_gbk("小明"), "1001");
    market.add_member("bob", "2002");
    market.add_member("carol", "3003");
    write_bytes(dir / "names.txt", utf8_to_gbk("小明----x\r\n\r\nbob\r\nnobody----1\r\ncarol\r\n"));

    const ChildResult r = cli({"members", "--names", (dir / "names.txt").string(), "--workers", "2",
                               "--out", (dir / "ids.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    WindowRun run(market);
    std::vector<Text> ids;
    for_each_name_line(read_bytes(dir / "names.txt"), [&](int, const Text& name) {
        ids.push_back(lookup_member_id(run.hosts, name));
    });
    EXPECT_EQ(ids, (std::vector<Text>{"1001", "2002", "", "3003"}));
    EXPECT_EQ(read_bytes(dir / "ids.txt"), exported(ids));
}

TEST_F(CliHarvest, OutputToStandardOutputIsTheSameBytes) {
    add_review_items();
    const ChildResult r = cli({"reviews", "--urls", (dir / "urls.txt").string(), "--out", "-"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).size(), 27u);
    EXPECT_TRUE(r.out.ends_with("\r\n"));
    // An output named .csv gets the window's spreadsheet export.
    const ChildResult csv =
        cli({"reviews", "--urls", (dir / "urls.txt").string(), "--out", (dir / "b.csv").string()});
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    std::vector<std::vector<Text>> cells;
    for (const auto& line : lines_of(r.out))
        cells.push_back({line});
    EXPECT_EQ(read_bytes(dir / "b.csv"), csv_export(cells));
}

}  // namespace
