// Three zembra-cli processes on one PostgreSQL queue, one of them killed halfway.
#include <libpq-fe.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "harvest/buyer_list.h"
#include "runtime/list_file.h"
#include "store/postgres_store.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/pg_server.h"

namespace {

using Kind = MarketItem::Kind;

std::vector<std::string> lines_of(const std::string& file) {
    std::vector<std::string> lines;
    for_each_list_line(file, [&](std::string_view l) { lines.emplace_back(l); });
    return lines;
}

// A count the store's tables give, straight from the server; -1 when the query fails.
long long pg_count(const std::string& address, const std::string& sql) {
    PGconn* conn = PQconnectdb(address.c_str());
    PGresult* result = PQexec(conn, sql.c_str());
    const long long n = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1
                            ? std::atoll(PQgetvalue(result, 0, 0))
                            : -1;
    PQclear(result);
    PQfinish(conn);
    return n;
}

class CliQueue : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_TRUE(pg.ok()) << pg.error();
    }
    std::vector<std::string> queue_args(const std::string& name) {
        return {"--store",
                pg.address(),
                "reviews",
                "--queue",
                name,
                "--urls",
                (dir / "urls.txt").string(),
                "--lease",
                "3"};
    }
    PgServer pg;
};

TEST_F(CliQueue, ThreeProcessesShareTwoHundredAddressesOneKilledHalfway) {
    std::vector<std::string> urls;
    std::set<std::string> buyers;
    for (int i = 0; i < 200; ++i) {
        MarketItem item;
        item.id = std::to_string(880000 + i);
        item.seller = "7" + item.id;
        item.spu = "5" + item.id;
        item.kind = i % 2 == 0 ? Kind::Mall : Kind::Marketplace;
        for (int page = 0; page < 1 + i % 2; ++page) {
            item.pages.push_back({});
            for (int b = 0; b < 2; ++b) {
                const std::string id =
                    "q" + item.id + "p" + std::to_string(page) + "b" + std::to_string(b);
                item.pages.back().push_back(id);
                buyers.insert(id);
            }
        }
        // The same buyer on two pages of one item is one row of the run.
        item.pages.front().push_back("regular" + item.id);
        item.pages.back().push_back("regular" + item.id);
        buyers.insert("regular" + item.id);
        urls.push_back(item.url());
        market.add_item(item);
    }
    std::string file;
    for (const auto& u : urls)
        file += u + "\r\n";
    write_bytes(dir / "urls.txt", file);
    // Slow enough answers that the kill lands in the middle of an address.
    market.set_before_answer(
        [](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(3)); });

    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int i = 0; i < 3; ++i)
        children.push_back(
            std::make_unique<ChildProcess>(ZEMBRA_CLI_PATH, queue_args("q1"), env(), dir));
    // Halfway: half of the addresses' item pages asked for.
    auto item_pages = [&] {
        const auto asked = market.urls();
        std::map<std::string, int> count;
        for (const auto& u : asked)
            if (u.find("/item.htm?id=") != std::string::npos) ++count[u];
        return count;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (item_pages().size() < 100 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    children[0]->send(SIGKILL);
    const ChildResult killed = children[0]->wait();
    EXPECT_EQ(killed.signal, SIGKILL);
    for (int i = 1; i < 3; ++i) {
        const ChildResult r = children[i]->wait(600000);
        EXPECT_EQ(r.exit_code, 0) << r.err;
    }

    // Every address harvested; none twice but the one the killed process held.
    const auto asked = item_pages();
    EXPECT_EQ(asked.size(), 200u);
    int twice = 0;
    for (const auto& [url, n] : asked) {
        EXPECT_LE(n, 2) << url;
        twice += n - 1;
    }
    EXPECT_LE(twice, 1);

    // Every buyer row present once.
    const ChildResult exported =
        cli({"--store", pg.address(), "export", "--run", "1", "--out", (dir / "all.txt").string()});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    const auto rows = lines_of(read_bytes(dir / "all.txt"));
    EXPECT_EQ(rows.size(), buyers.size());
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), buyers);

    // Each buyer row names the answer it came from: its item's address, the page that listed it
    // first, the item's review service. An address is stored once, so 300 answers in all.
    EXPECT_EQ(pg_count(pg.address(), "SELECT count(*) FROM answers WHERE run = 1"), 300);
    EXPECT_EQ(pg_count(pg.address(),
                       "SELECT count(*) FROM buyers b JOIN answers a ON a.id = b.answer "
                       "WHERE b.run = 1 AND a.address LIKE '%id=' || b.item_id AND a.page = "
                       "CASE WHEN b.buyer_id LIKE 'regular%' THEN 1 "
                       "ELSE substring(b.buyer_id from 'p([0-9]+)b')::int + 1 END AND a.service = "
                       "CASE WHEN b.item_id::int % 2 = 0 THEN 'mall-reviews' "
                       "ELSE 'market-reviews' END"),
              static_cast<long long>(buyers.size()));

    // runs: three processes, the living two (and what the killed one finished) did them all.
    const ChildResult runs = cli({"--store", pg.address(), "runs"});
    ASSERT_EQ(runs.exit_code, 0) << runs.err;
    EXPECT_NE(runs.out.find("run 1  queue q1  addresses 200  done 200  claimed 0  open 0  buyers " +
                            std::to_string(buyers.size())),
              std::string::npos)
        << runs.out;
    int processes = 0, addresses = 0;
    for (size_t at = runs.out.find("  process "); at != std::string::npos;
         at = runs.out.find("  process ", at + 1)) {
        ++processes;
        const size_t a = runs.out.find("addresses ", at) + 10;
        addresses += std::stoi(runs.out.substr(a));
    }
    EXPECT_EQ(processes, 3);
    EXPECT_EQ(addresses, 200);
}

TEST_F(CliQueue, QueueIsLoadedOnceAndAMissingQueueIsBadInput) {
    MarketItem item;
    item.id = "61";
    item.seller = "761";
    item.kind = Kind::Marketplace;
    item.pages = {{"a", "b"}};
    market.add_item(item);
    write_bytes(dir / "urls.txt", item.url() + "\r\n");

    // keep_answers archives the answer the address's buyers came from.
    write_bytes(dir / "zembra.toml",
                hosts_toml(Marketplace::hosts()) + "[store]\nkeep_answers = true\n");
    const ChildResult first = cli(queue_args("once"));
    ASSERT_EQ(first.exit_code, 0) << first.err;
    EXPECT_NE(first.err.find("queue once: 1 addresses loaded"), std::string::npos) << first.err;
    PostgresStore store(pg.address());
    ASSERT_TRUE(store.ok()) << store.last_error();
    const auto archived = store.answers(1);
    ASSERT_EQ(archived.size(), 1u);
    EXPECT_EQ(archived[0].source.address, item.url());
    EXPECT_EQ(archived[0].source.service, "market-reviews");
    EXPECT_NE(archived[0].body.find(kBuyerMarker), std::string::npos);
    const ChildResult second = cli(queue_args("once"));
    EXPECT_EQ(second.exit_code, 0) << second.err;
    EXPECT_NE(second.err.find("was loaded before"), std::string::npos) << second.err;
    // The item was harvested by the first process only.
    const auto asked = market.urls();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), item.url()), 1);

    const ChildResult missing =
        cli({"--store", pg.address(), "reviews", "--queue", "nothing-here"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("queue nothing-here does not exist"), std::string::npos)
        << missing.err;
    const ChildResult bad_store =
        cli({"--store", "postgresql://zembra@/postgres?host=/nonexistent&port=1", "runs"});
    EXPECT_EQ(bad_store.exit_code, 1);
    EXPECT_NE(bad_store.err.find("cannot use the store"), std::string::npos) << bad_store.err;

    // A store whose tables cannot be read gives no listing and says so.
    EXPECT_EQ(pg_count(pg.address(), "ALTER TABLE workers RENAME COLUMN rows TO taken; SELECT 1"),
              1);
    const ChildResult unreadable = cli({"--store", pg.address(), "runs"});
    EXPECT_EQ(unreadable.exit_code, 1);
    EXPECT_NE(unreadable.err.find("cannot read the runs"), std::string::npos) << unreadable.err;
    EXPECT_EQ(unreadable.out, "");
}

// An address whose harvest the marketplace cut short (a page of unknown shape) goes back to the
// queue, not to the done ones with half its buyers; the process ends with code 2.
TEST_F(CliQueue, AnAddressCutShortByAChangedPageStaysOpen) {
    MarketItem plain;
    plain.id = "71";
    plain.seller = "771";
    plain.kind = Kind::Marketplace;
    plain.pages = {{"p1"}};
    MarketItem changing;
    changing.id = "72";
    changing.seller = "772";
    changing.kind = Kind::Marketplace;
    changing.pages = {{"c1"}, {"c2"}};
    changing.unmarked[2] = 1000;
    market.add_item(plain);
    market.add_item(changing);
    write_bytes(dir / "urls.txt", plain.url() + "\r\n" + changing.url() + "\r\n");

    // keep_answers: the answer saved for the report is archived too, marked as such.
    write_bytes(dir / "zembra.toml",
                hosts_toml(Marketplace::hosts()) + "[store]\nkeep_answers = true\n");
    const ChildResult cut = cli(queue_args("cut"));
    EXPECT_EQ(cut.exit_code, 2) << cut.err;
    {
        PostgresStore store(pg.address());
        ASSERT_TRUE(store.ok()) << store.last_error();
        int reports = 0;
        for (const StoredAnswer& answer : store.answers(1))
            if (answer.report) {
                ++reports;
                EXPECT_NE(answer.source.address.find("auctionNumId=72"), std::string::npos)
                    << answer.source.address;
                EXPECT_EQ(answer.body.find(kBuyerMarker), std::string::npos);
            }
        EXPECT_EQ(reports, 1);
    }
    // No output file: the answer is saved in the data folder, beside a build's program.
    const std::filesystem::path reports =
        std::filesystem::path(ZEMBRA_CLI_PATH).parent_path() / "reports";
    EXPECT_NE(cut.err.find(reports.string()), std::string::npos) << cut.err;
    std::filesystem::remove_all(reports);
    const ChildResult runs = cli({"--store", pg.address(), "runs"});
    EXPECT_NE(runs.out.find("addresses 2  done 1  claimed 0  open 1  buyers 1"), std::string::npos)
        << runs.out;

    // The pages are back to normal: the next process finishes the address, every buyer once.
    changing.unmarked.clear();
    market.add_item(changing);
    const ChildResult again = cli(queue_args("cut"));
    EXPECT_EQ(again.exit_code, 0) << again.err;
    const ChildResult exported =
        cli({"--store", pg.address(), "export", "--run", "1", "--out", (dir / "all.txt").string()});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_EQ(read_bytes(dir / "all.txt"), "p1\r\nc1\r\nc2\r\n");
}

// A plain run (no queue) keeps its rows in PostgreSQL as in the embedded store.
TEST_F(CliQueue, APlainRunKeepsItsRowsInPostgres) {
    MarketItem mall;
    mall.id = "81";
    mall.seller = "781";
    mall.kind = Kind::Mall;
    mall.pages = {{"m1", "m2"}, {"m3"}};
    MarketItem marketplace;
    marketplace.id = "82";
    marketplace.seller = "782";
    marketplace.kind = Kind::Marketplace;
    marketplace.pages = {{"t1"}};
    market.add_item(mall);
    market.add_item(marketplace);
    write_bytes(dir / "urls.txt", mall.url() + "\r\n" + marketplace.url() + "\r\n");

    const ChildResult r = cli({"--store", pg.address(), "reviews", "--urls",
                               (dir / "urls.txt").string(), "--out", (dir / "b.txt").string()});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_bytes(dir / "b.txt"), "m1\r\nm2\r\nm3\r\nt1\r\n");
    const ChildResult exported =
        cli({"--store", pg.address(), "export", "--run", "1", "--out", (dir / "e.txt").string()});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_EQ(read_bytes(dir / "e.txt"), read_bytes(dir / "b.txt"));

    // keep_answers archives the answers there too: every one the rows came from, whole.
    write_bytes(dir / "zembra.toml",
                hosts_toml(Marketplace::hosts()) + "[store]\nkeep_answers = true\n");
    const ChildResult kept = cli({"--store", pg.address(), "reviews", "--urls",
                                  (dir / "urls.txt").string(), "--out", (dir / "k.txt").string()});
    ASSERT_EQ(kept.exit_code, 0) << kept.err;
    // runs lists both, as for a file: no queue's run is left out.
    const ChildResult runs = cli({"--store", pg.address(), "runs"});
    ASSERT_EQ(runs.exit_code, 0) << runs.err;
    for (const char* run : {"run 1  reviews  ", "run 2  reviews  "})
        EXPECT_NE(runs.out.find(run), std::string::npos) << runs.out;
    EXPECT_NE(runs.out.find(" UTC  finished  urls 2  items 0  buyers 4\n"), std::string::npos)
        << runs.out;
    PostgresStore store(pg.address());
    ASSERT_TRUE(store.ok()) << store.last_error();
    EXPECT_TRUE(store.answers(1).empty());
    const auto sources = store.answer_sources(2);
    const auto archived = store.answers(2);
    ASSERT_EQ(sources.size(), 3u);
    ASSERT_EQ(archived.size(), sources.size());
    for (size_t i = 0; i < archived.size(); ++i) {
        EXPECT_EQ(archived[i].source.address, sources[i].address);
        EXPECT_NE(archived[i].body.find(kBuyerMarker), std::string::npos);
    }
}

}  // namespace
