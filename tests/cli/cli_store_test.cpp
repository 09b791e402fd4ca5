// zembra-cli runs with --store: their runs and rows go to a SQLite store, and export gives back
// what the run's own output file holds.

#include <algorithm>

#include "harvest/buyer_list.h"
#include "store/sqlite_store.h"
#include "tests/cli/cli_fixture.h"

namespace {

namespace fs = std::filesystem;
using Kind = MarketItem::Kind;

class CliStore : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        std::string file;
        for (int i = 0; i < 6; ++i) {
            MarketItem item;
            item.id = std::to_string(8100 + i);
            item.seller = "77" + item.id;
            item.spu = "55" + item.id;
            item.kind = i % 2 == 0 ? Kind::Mall : Kind::Marketplace;
            for (int page = 0; page < 1 + i % 3; ++page)
                item.pages.push_back({"s" + item.id + "_" + std::to_string(page) + "a",
                                      "s" + item.id + "_" + std::to_string(page) + "b"});
            market.add_item(item);
            file += item.url() + "\r\n";
        }
        write_bytes(dir / "urls.txt", file);
    }
    std::string exported(const std::string& store, int run) {
        const fs::path out = dir / ("export_" + std::to_string(run) + ".txt");
        const ChildResult r =
            cli({"--store", store, "export", "--run", std::to_string(run), "--out", out.string()});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return read_bytes(out);
    }
};

TEST_F(CliStore, RunsKeepTheirRowsAndExportGivesTheOutputBack) {
    const std::string db = (dir / "runs.db").string();
    const ChildResult reviews =
        cli({"--store", db, "reviews", "--urls", (dir / "urls.txt").string(), "--workers", "3",
             "--out", (dir / "buyers.txt").string()});
    ASSERT_EQ(reviews.exit_code, 0) << reviews.err;
    EXPECT_NE(reviews.err.find("run 1 in the store " + db), std::string::npos) << reviews.err;
    const std::string buyers = read_bytes(dir / "buyers.txt");
    ASSERT_FALSE(buyers.empty());
    EXPECT_EQ(exported(db, 1), buyers);

    MarketSearch search;
    search.total_pages = 3;
    search.items_per_page = 5;
    market.set_search(search);
    const ChildResult items = cli({"--store", db, "search", "--keyword", "x", "--pages", "2",
                                   "--out", (dir / "items.txt").string()});
    ASSERT_EQ(items.exit_code, 0) << items.err;
    EXPECT_EQ(exported(db, 2), read_bytes(dir / "items.txt"));

    const ChildResult runs = cli({"--store", db, "runs"});
    ASSERT_EQ(runs.exit_code, 0) << runs.err;
    EXPECT_NE(runs.out.find(" UTC  finished  urls 6  items 0  buyers " +
                            std::to_string(std::count(buyers.begin(), buyers.end(), '\n')) + "\n"),
              std::string::npos)
        << runs.out;
    EXPECT_NE(runs.out.find(" UTC  finished  urls 0  items 10  buyers 0  keyword=x pages=2 "),
              std::string::npos)
        << runs.out;

    // Both runs ended; the review run's URL list is there with every row done.
    std::string error;
    auto store = SqliteStore::open(db, {}, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->unfinished_runs().empty());
    const std::vector<StoredUrl> urls = store->urls(1);
    EXPECT_EQ(urls.size(), 6u);
    for (const StoredUrl& url : urls)
        EXPECT_EQ(url.state, UrlState::done) << url.position;
    EXPECT_EQ(store->rows(2).items.size(), 10u);
}

// A shop run over two shops keeps every entry once, numbered on across the shops, and its export
// is the run's output file.
TEST_F(CliStore, AShopRunKeepsTheEntriesOfEveryShop) {
    const auto [shop_a, shop_b] = add_two_shops();
    const std::string db = (dir / "runs.db").string();
    const ChildResult r =
        cli({"--store", db, "shop", shop_a, shop_b, "--out", (dir / "shop.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string file = read_bytes(dir / "shop.txt");
    ASSERT_EQ(std::count(file.begin(), file.end(), '\n'), 9);
    EXPECT_EQ(exported(db, 1), file);

    std::string error;
    auto store = SqliteStore::open(db, {}, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->unfinished_runs().empty());
    std::vector<std::int64_t> serials;
    for (const ItemRow& row : store->rows(1).items)
        serials.push_back(row.serial);
    EXPECT_EQ(serials, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    std::vector<std::pair<std::string, int>> pages;
    for (const AnswerSource& source : store->answer_sources(1)) {
        EXPECT_EQ(source.service, "shop");
        pages.emplace_back(source.address, source.page);
    }
    EXPECT_EQ(pages, (std::vector<std::pair<std::string, int>>{
                         {shop_a + "search.htm?search=y&pageNo=1", 1},
                         {shop_a + "search.htm?search=y&pageNo=2", 2},
                         {std::string("http://") + market_host::kShopB +
                              "/search.htm?scene=taobao_shop&pageNo=1",
                          1}}));
    const ChildResult runs = cli({"--store", db, "runs"});
    ASSERT_EQ(runs.exit_code, 0) << runs.err;
    EXPECT_NE(runs.out.find(" UTC  finished  urls 0  items 9  buyers 0  shop=" + shop_a +
                            " shop=" + shop_b),
              std::string::npos)
        << runs.out;
}

// The settings' store is used when no flag names one; a folder stands for its zembra.db.
TEST_F(CliStore, TheSettingsStoreAndAFolderWork) {
    fs::create_directories(dir / "kept");
    write_bytes(dir / "zembra.toml", hosts_toml(Marketplace::hosts()) + "[store]\nlocation = \"" +
                                         (dir / "kept").string() + "\"\n");
    const ChildResult r = cli(
        {"reviews", "--urls", (dir / "urls.txt").string(), "--out", (dir / "buyers.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "kept" / "zembra.db"));
    EXPECT_EQ(exported((dir / "kept").string(), 1), read_bytes(dir / "buyers.txt"));
}

// The settings' keep_answers archives every answer a run stored rows from; without it none.
TEST_F(CliStore, KeepAnswersArchivesTheAnswersOfARun) {
    for (const bool keep : {false, true}) {
        const fs::path db = dir / (keep ? "kept.db" : "plain.db");
        write_bytes(dir / "zembra.toml",
                    hosts_toml(Marketplace::hosts()) +
                        "[store]\nkeep_answers = " + (keep ? "true" : "false") + "\n");
        const ChildResult r =
            cli({"--store", db.string(), "reviews", "--urls", (dir / "urls.txt").string(), "--out",
                 (dir / "buyers.txt").string()});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        std::string error;
        auto store = SqliteStore::open(db, {}, &error);
        ASSERT_TRUE(store) << error;
        const auto sources = store->answer_sources(1);
        const auto archived = store->answers(1);
        ASSERT_FALSE(sources.empty());
        EXPECT_EQ(archived.size(), keep ? sources.size() : 0u) << "keep_answers " << keep;
        for (const StoredAnswer& answer : archived)
            EXPECT_NE(answer.body.find(kBuyerMarker), std::string::npos) << answer.source.address;
    }
}

TEST_F(CliStore, AStoreThatCannotBeHadIsBadInputAndNothingIsAsked) {
    write_bytes(dir / "not_a_folder", "x");
    const std::string places[] = {(dir / "missing" / "runs.db").string(),
                                  (dir / "not_a_folder" / "runs.db").string()};
    for (const std::string& place : places) {
        SCOPED_TRACE(place);
        const ChildResult r = cli({"--store", place, "reviews", "--urls",
                                   (dir / "urls.txt").string(), "--out", (dir / "b.txt").string()});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("store"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "b.txt"));
    }
    EXPECT_EQ(market.request_count(), 0u);
}

}  // namespace
