// The SQLite results store on real files: rows back as written, pages all-or-nothing, runs that
// never ended, URL claims shared by threads and connections, the answer archive, and the faults
// a user's disk can give (no folder, a damaged file, a full disk).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "runtime/gbk.h"
#include "store/sqlite_store.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::unique_ptr<SqliteStore> open_store(const fs::path& path, StoreOptions options = {}) {
    std::string error;
    auto store = SqliteStore::open(path, options, &error);
    EXPECT_TRUE(store) << error;
    return store;
}

AnswerPage buyer_page(std::int64_t run, int first_serial, std::vector<std::string> ids) {
    AnswerPage page;
    page.run = run;
    page.source = {"market-reviews", "http://item.example/item.htm?id=7", 2, 1700000000000};
    for (size_t i = 0; i < ids.size(); ++i)
        page.buyers.push_back({first_serial + static_cast<std::int64_t>(i), ids[i], "7"});
    return page;
}

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Store : public ::testing::Test {
protected:
    TempFolder folder{"zembra-store"};
    fs::path path = store_path(folder.path());
};

TEST_F(Store, RowsComeBackAsWrittenInSerialOrderAfterReopening) {
    const Text chinese_address = utf8_to_gbk("http://店铺.example/宝贝?id=1");
    const std::string long_id = "123456789012345678";
    std::int64_t run = 0;
    {
        auto store = open_store(path);
        run = store->begin_run(RunKind::item_search, "keyword=鞋\npages=3");
        ASSERT_GT(run, 0);
        AnswerPage items;
        items.run = run;
        items.source = {"search", "http://s.example/search?q=x", 1, 0};
        items.items = {{2, chinese_address, long_id, "9"}, {1, "http://a", "11", "12"}};
        ASSERT_TRUE(store->write_page(items));
        ASSERT_TRUE(store->write_page(buyer_page(run, 1, {"b1", long_id})));
    }
    auto store = open_store(path);
    const StoredRows rows = store->rows(run);
    const std::vector<ItemRow> items = {{1, "http://a", "11", "12"},
                                        {2, chinese_address, long_id, "9"}};
    const std::vector<BuyerRow> buyers = {{1, "b1", "7"}, {2, long_id, "7"}};
    EXPECT_EQ(rows.items, items);
    EXPECT_EQ(rows.buyers, buyers);
    const auto runs = store->unfinished_runs();
    ASSERT_EQ(runs.size(), 1U);
    EXPECT_EQ(runs[0].parameters, "keyword=鞋\npages=3");
    EXPECT_EQ(runs[0].kind, RunKind::item_search);
}

// Pages overlapping in part or whole: each number keeps its first row.
TEST_F(Store, ARowWrittenAgainIsKeptOnceAsFirstWritten) {
    auto store = open_store(path);
    struct Page {
        int first;
        int rows;
    };
    const std::vector<std::vector<Page>> cases = {{{1, 2}, {2, 2}},   {{1, 10}, {6, 10}},
                                                  {{1, 23}, {21, 5}}, {{5, 3}, {1, 20}},
                                                  {{1, 2}, {1, 5}},   {{3, 2}, {1, 2}, {1, 2}}};
    for (size_t c = 0; c < cases.size(); ++c) {
        const auto run = store->begin_run(RunKind::reviews, "");
        std::map<std::int64_t, std::string> expected;
        for (size_t p = 0; p < cases[c].size(); ++p) {
            const Page& page = cases[c][p];
            std::vector<std::string> ids;
            for (int i = 0; i < page.rows; ++i) {
                ids.push_back("p" + std::to_string(p) + "r" + std::to_string(i));
                expected.emplace(page.first + i, ids.back());
            }
            ASSERT_TRUE(store->write_page(buyer_page(run, page.first, ids))) << "case " << c;
        }
        std::vector<BuyerRow> buyers;
        for (const auto& [serial, id] : expected)
            buyers.push_back({serial, id, "7"});
        EXPECT_EQ(store->rows(run).buyers, buyers) << "case " << c;
    }
}

// A page's IDs share one row: Chinese, quotes, backslashes and control characters come back as
// written, and a buyer of another item starts a row of its own.
TEST_F(Store, AsciiAndChineseBuyerTextsComeBackAsWritten) {
    auto store = open_store(path);
    const auto run = store->begin_run(RunKind::reviews, "");
    std::vector<std::string> ids;
    for (int i = 0; i < 12; ++i)
        ids.push_back(i % 3 == 1 ? utf8_to_gbk("买家" + std::to_string(i))
                                 : "2" + std::to_string(1000000000000000LL + i));
    ids[6] =
        "a\"b\\c\td\x01"
        "e";
    ids[9] = utf8_to_gbk("\"引号\"");
    AnswerPage page = buyer_page(run, 1, ids);
    page.buyers[4].item_id = utf8_to_gbk("宝贝");
    ASSERT_TRUE(store->write_page(page));
    EXPECT_EQ(store->rows(run).buyers, page.buyers);
    SqliteDb db;
    ASSERT_EQ(db.open(path, false), 0);
    SqliteStatement view(db, "SELECT buyer_id FROM buyers WHERE run = ? AND serial = 10");
    view.bind(1, run);
    ASSERT_EQ(view.step(), 100);  // SQLITE_ROW
    EXPECT_EQ(view.column_text(0), "\"引号\"") << "the view shows the IDs as UTF-8";
}

// A file from when every buyer had a row of its own keeps its buyers, and takes new pages.
TEST_F(Store, AFileWithARowABuyerIsTurnedIntoPages) {
    {
        SqliteDb db;
        ASSERT_EQ(db.open(path, true), 0);
        ASSERT_EQ(db.exec("CREATE TABLE buyers(run INTEGER NOT NULL, serial INTEGER NOT NULL, "
                          "buyer_id TEXT NOT NULL, item_id TEXT NOT NULL, answer INTEGER NOT NULL, "
                          "PRIMARY KEY(run, serial)) WITHOUT ROWID;"
                          "INSERT INTO buyers VALUES(1, 2, '买家', '7', 1), (1, 1, 'b1', '7', 1), "
                          "(2, 1, 'other', '8', 2)"),
                  0);
    }
    auto store = open_store(path);
    const std::vector<BuyerRow> before = {{1, "b1", "7"}, {2, utf8_to_gbk("买家"), "7"}};
    EXPECT_EQ(store->rows(1).buyers, before);
    ASSERT_TRUE(store->write_page(buyer_page(1, 3, {"b3", "b4"})));
    const std::vector<BuyerRow> after = {
        {1, "b1", "7"}, {2, utf8_to_gbk("买家"), "7"}, {3, "b3", "7"}, {4, "b4", "7"}};
    EXPECT_EQ(store->rows(1).buyers, after);
    EXPECT_EQ(store->rows(2).buyers, std::vector<BuyerRow>({{1, "other", "8"}}));
    store.reset();
    EXPECT_EQ(open_store(path)->rows(1).buyers, after) << "opened again";
}

TEST_F(Store, OnlyRunsWithoutAnEndAreUnfinished) {
    auto store = open_store(path);
    struct Case {
        RunEnding ending;
        bool ended;
    };
    const Case cases[] = {{RunEnding::finished, true},
                          {RunEnding::stopped, true},
                          {RunEnding::restored, true},
                          {RunEnding::set_aside, true},
                          {RunEnding::running, false}};
    std::set<std::int64_t> open;
    for (const Case& c : cases) {
        const auto run = store->begin_run(RunKind::reviews, "");
        ASSERT_TRUE(store->end_run(run, c.ending));
        if (!c.ended) open.insert(run);
    }
    const auto never_ended = store->begin_run(RunKind::item_search, "");
    open.insert(never_ended);
    std::set<std::int64_t> found;
    for (const RunInfo& run : store->unfinished_runs())
        found.insert(run.id);
    EXPECT_EQ(found, open);
    EXPECT_EQ(store->unfinished_runs().front().id, never_ended) << "newest first";
}

TEST_F(Store, UrlStatesGiveTheCursor) {
    auto store = open_store(path);
    const auto run = store->begin_run(RunKind::reviews, "");
    ASSERT_TRUE(store->put_urls(run, 0, {"u0", "u1", "u2"}));
    ASSERT_TRUE(store->put_urls(run, 3, {"u3"}));
    ASSERT_TRUE(store->set_url_state(run, 0, UrlState::done, "w1"));
    ASSERT_TRUE(store->set_url_state(run, 1, UrlState::claimed, "w2"));
    ASSERT_TRUE(store->set_url_state(run, 2, UrlState::done));
    const auto urls = store->urls(run);
    ASSERT_EQ(urls.size(), 4U);
    EXPECT_EQ(urls[3].address, "u3");
    EXPECT_EQ(urls[1].state, UrlState::claimed);
    EXPECT_EQ(url_cursor(urls), 1);
}

TEST_F(Store, EveryOpenUrlIsClaimedOnceAcrossThreadsAndConnections) {
    constexpr int kUrls = 300;
    auto first = open_store(path);
    auto second = open_store(path);
    const auto run = first->begin_run(RunKind::reviews, "");
    std::vector<Text> addresses;
    for (int i = 0; i < kUrls; ++i)
        addresses.push_back("http://item.example/?id=" + std::to_string(i));
    ASSERT_TRUE(first->put_urls(run, 0, addresses));
    ASSERT_TRUE(first->set_url_state(run, 5, UrlState::done));

    std::mutex mutex;
    std::multiset<int> claimed;
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            ResultsStore& store = w % 2 == 0 ? *first : *second;
            while (auto claim = store.claim_url(run, "worker" + std::to_string(w))) {
                EXPECT_EQ(claim->address, addresses[static_cast<size_t>(claim->position)]);
                std::lock_guard lock(mutex);
                claimed.insert(claim->position);
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(claimed.size(), static_cast<size_t>(kUrls - 1));
    EXPECT_EQ(std::set<int>(claimed.begin(), claimed.end()).size(), claimed.size()) << "twice";
    EXPECT_EQ(claimed.count(5), 0U) << "a done row is not claimed again";
}

TEST_F(Store, PagesOfManyThreadsAtOnceAreEachStoredWholeOrNotAtAll) {
    constexpr int kThreads = 4;
    constexpr int kPages = 40;
    auto store = open_store(path);
    const auto run = store->begin_run(RunKind::reviews, "");
    std::vector<Text> addresses;
    for (int t = 0; t < kThreads; ++t)
        addresses.push_back("http://item.example/?id=" + std::to_string(t));
    ASSERT_TRUE(store->put_urls(run, 0, addresses));
    {
        // The file refuses one buyer ID; a page holding it fails, and only that page.
        SqliteDb db;
        ASSERT_EQ(db.open(path, false), 0);
        ASSERT_EQ(db.exec("CREATE TRIGGER refuse BEFORE INSERT ON buyer_pages WHEN NEW.buyer_ids "
                          "LIKE '%\"refused\"%' BEGIN SELECT RAISE(ABORT, 'refused'); END"),
                  0);
    }
    auto refused = [](int t, int p) { return t == 1 && p % 10 == 3; };
    std::atomic<int> wrong_results{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int p = 0; p < kPages; ++p) {
                const int first = (t * kPages + p) * 3 + 1;
                AnswerPage page =
                    buyer_page(run, first,
                               {"x" + std::to_string(first), "y", refused(t, p) ? "refused" : "z"});
                // The URL row goes done with the thread's last page, in the same commit.
                if (p == kPages - 1) page.url_states.push_back({t, UrlState::done});
                if (store->write_page(page) == refused(t, p)) ++wrong_results;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong_results.load(), 0);

    const StoredRows rows = store->rows(run);
    std::set<std::int64_t> serials;
    for (const BuyerRow& row : rows.buyers)
        serials.insert(row.serial);
    std::set<std::int64_t> expected;
    int good_pages = 0;
    for (int t = 0; t < kThreads; ++t)
        for (int p = 0; p < kPages; ++p)
            if (!refused(t, p)) {
                ++good_pages;
                for (int i = 0; i < 3; ++i)
                    expected.insert((t * kPages + p) * 3 + 1 + i);
            }
    EXPECT_EQ(serials, expected);
    SqliteDb db;
    ASSERT_EQ(db.open(path, false), 0);
    SqliteStatement answers(db, "SELECT count(*) FROM answers");
    ASSERT_EQ(answers.step(), 100);  // SQLITE_ROW
    EXPECT_EQ(answers.column_int(0), good_pages) << "a refused page left its answer behind";
    for (const StoredUrl& url : store->urls(run))
        EXPECT_EQ(url.state, UrlState::done) << url.position;
}

TEST_F(Store, AnswerBodiesAreArchivedOnlyWhenAsked) {
    std::string body = utf8_to_gbk("<html>买家 XXXXXXXXXX_!!42-</html>");
    body.push_back('\0');
    body += std::string(5000, 'x');
    for (const bool keep : {false, true}) {
        TempFolder own{"zembra-archive"};
        auto store = open_store(store_path(own.path()), {.keep_answers = keep});
        const auto run = store->begin_run(RunKind::reviews, "");
        AnswerPage page = buyer_page(run, 1, {"42"});
        page.body = body;
        ASSERT_TRUE(store->write_page(page));
        const auto answers = store->answers(run);
        if (!keep) {
            EXPECT_TRUE(answers.empty());
            continue;
        }
        ASSERT_EQ(answers.size(), 1U);
        EXPECT_EQ(answers[0].body, body);
        EXPECT_EQ(answers[0].source.page, 2);
        EXPECT_EQ(answers[0].source.service, "market-reviews");
        EXPECT_LT(fs::file_size(store_path(own.path())) + fs::file_size(own / "zembra.db-wal"),
                  body.size() * 20)
            << "kept compressed";
    }
}

// Answers saved for a report of a changed format: in the archive, marked, only when it is kept;
// a file made before the mark existed gets it on opening and keeps its answers.
TEST_F(Store, ReportedAnswersAreArchivedMarkedOnlyWhenAnswersAreKept) {
    {
        SqliteDb old;
        ASSERT_EQ(old.open(path, true), 0);
        ASSERT_EQ(old.exec("CREATE TABLE answers(id INTEGER PRIMARY KEY, run INTEGER NOT NULL, "
                           "service TEXT NOT NULL, address TEXT NOT NULL, page INTEGER NOT NULL, "
                           "time_ms INTEGER NOT NULL, body BLOB, body_size INTEGER)"),
                  0);
    }
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep);
        auto store = open_store(path, {keep});
        ASSERT_TRUE(store);
        const auto run = store->begin_run(RunKind::reviews, "");
        AnswerPage answer = buyer_page(run, 1, {"b1"});
        const std::string answer_body = "jsonp({\"rateList\":[b1]})";
        answer.body = answer_body;
        ASSERT_TRUE(store->write_page(answer));
        AnswerPage report;
        report.run = run;
        report.source = {"rate.example/list", "http://rate.example/list?p=1", 1, 5};
        const std::string report_body = "<html>changed</html>";
        report.body = report_body;
        report.report = true;
        ASSERT_TRUE(store->write_page(report));
        const auto kept = store->answers(run);
        if (!keep) {
            EXPECT_TRUE(kept.empty());
            EXPECT_EQ(store->answer_sources(run).size(), 1u) << "only the page with rows";
            continue;
        }
        ASSERT_EQ(kept.size(), 2u);
        EXPECT_FALSE(kept[0].report);
        EXPECT_EQ(kept[0].body, answer_body);
        EXPECT_TRUE(kept[1].report);
        EXPECT_EQ(kept[1].body, report_body);
        EXPECT_EQ(kept[1].source.address, "http://rate.example/list?p=1");
        EXPECT_TRUE(store->rows(run).buyers.size() == 1u) << "a report adds no rows";
    }
}

TEST_F(Store, AFolderThatCannotHoldTheFileGivesAClearReason) {
    // A plain file where the folder should be: no permission trick a root user would pass.
    std::ofstream(folder / "not-a-folder") << "x";
    std::string error;
    auto store = SqliteStore::open(folder / "not-a-folder" / "zembra.db", {}, &error);
    EXPECT_FALSE(store);
    EXPECT_NE(error.find("无法打开"), std::string::npos) << error;
    EXPECT_NE(error.find("not-a-folder"), std::string::npos) << error;
}

TEST_F(Store, ADamagedFileIsSetAsideUntouchedAndAFreshOneMade) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> damage;
    };
    const Case cases[] = {
        {"no database at all", [](const fs::path& p) { std::ofstream(p) << "plain text"; }},
        {"pages overwritten",
         [](const fs::path& p) {
             {
                 auto store = open_store(p);
                 const auto run = store->begin_run(RunKind::reviews, "");
                 std::vector<std::string> ids(3000, std::string(40, 'i'));
                 for (size_t i = 0; i < ids.size(); ++i)
                     ids[i] += std::to_string(i);
                 ASSERT_TRUE(store->write_page(buyer_page(run, 1, ids)));
             }
             std::fstream file(p, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4096 * 3);
             file << std::string(4096 * 4, '\x5a');
         }},
    };
    for (const Case& c : cases) {
        TempFolder own{"zembra-damaged"};
        const fs::path p = store_path(own.path());
        c.damage(p);
        const std::string before = file_bytes(p);
        std::string error;
        auto store = SqliteStore::open(p, {}, &error);
        ASSERT_TRUE(store) << c.name << ": " << error;
        EXPECT_NE(store->notice().find("已损坏"), std::string::npos) << c.name;
        fs::path aside;
        for (const auto& entry : fs::directory_iterator(own.path())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("zembra.db.corrupt-") && !name.ends_with("-wal") &&
                !name.ends_with("-shm"))
                aside = entry.path();
        }
        ASSERT_FALSE(aside.empty()) << c.name;
        EXPECT_EQ(file_bytes(aside), before) << c.name;
        EXPECT_NE(store->notice().find(aside.string()), std::string::npos) << c.name;
        const auto run = store->begin_run(RunKind::reviews, "");
        EXPECT_TRUE(store->write_page(buyer_page(run, 1, {"fresh"}))) << c.name;
        EXPECT_TRUE(store->unfinished_runs().size() == 1) << c.name;
    }
}

// A file-size limit stands for a full disk: the write fails, nothing half-written remains, and
// what was stored before stays readable.
TEST_F(Store, AFullDiskFailsTheWholePageAndKeepsWhatWasStored) {
    auto store = open_store(path, {.keep_answers = true});
    const auto run = store->begin_run(RunKind::reviews, "");
    ASSERT_TRUE(store->write_page(buyer_page(run, 1, {"kept1", "kept2"})));

    std::string noise(2 << 20, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) {
        x = x * 1664525U + 1013904223U;
        c = static_cast<char>(x >> 24);
    }
    AnswerPage big = buyer_page(run, 3, {"lost1", "lost2"});
    big.body = noise;  // does not compress

    bool written = false;
    std::string error;
    {
        const ScopedFileSizeLimit limit(1 << 20);
        written = store->write_page(big);
        error = store->last_error();
    }

    EXPECT_FALSE(written);
    EXPECT_NE(error.find("写入失败"), std::string::npos) << error;
    const std::vector<BuyerRow> kept = {{1, "kept1", "7"}, {2, "kept2", "7"}};
    EXPECT_EQ(store->rows(run).buyers, kept);
    store.reset();
    auto reopened = open_store(path);
    ASSERT_TRUE(reopened);
    EXPECT_TRUE(reopened->notice().empty()) << "the file was not damaged";
    EXPECT_EQ(reopened->rows(run).buyers, kept);
    EXPECT_TRUE(reopened->write_page(buyer_page(run, 3, {"later"})));
}

}  // namespace
