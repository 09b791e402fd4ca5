// Pages written behind the harvest: each page's `then` runs only once the page can be read from
// another connection, in the order the pages came, the archived answer survives its caller's
// buffer, and neither a drain nor the end waits for a group to fill.
#include "store/page_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "store/sqlite_store.h"
#include "tests/support/temp_folder.h"

namespace {

std::unique_ptr<SqliteStore> open_store(const std::filesystem::path& path, StoreOptions options) {
    std::string error;
    auto store = SqliteStore::open(path, options, &error);
    EXPECT_TRUE(store) << error;
    return store;
}

AnswerPage page_of(std::int64_t run, int serial, const std::string& address) {
    AnswerPage page;
    page.run = run;
    page.source = {"market-reviews", address, 1, 1700000000000};
    page.buyers = {{serial, "b" + std::to_string(serial), "7"}};
    return page;
}

TEST(PageWriter, ThenRunsOnceThePageIsCommittedInTheOrderThePagesCame) {
    TempFolder folder("zembra-page-writer");
    const auto path = store_path(folder.path());
    auto store = open_store(path, {.keep_answers = true});
    auto reader = open_store(path, {});
    ASSERT_TRUE(store && reader);
    const std::int64_t run = store->begin_run(RunKind::reviews, "");

    constexpr int kThreads = 3;
    constexpr int kPages = 60;
    std::mutex seen_mutex;
    std::vector<std::vector<int>> seen(kThreads);  // serials each thread's thens saw, in order
    std::atomic<int> uncommitted{0};
    {
        PageWriter writer(*store, std::chrono::milliseconds(5));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int p = 0; p < kPages; ++p) {
                    const int serial = t * kPages + p + 1;
                    std::string answer = "answer " + std::to_string(serial);
                    AnswerPage page = page_of(run, serial, "http://item.example/" + answer);
                    page.body = answer;
                    writer.write(std::move(page), answer, [&, t, serial](bool stored) {
                        EXPECT_TRUE(stored);
                        bool found = false;
                        for (const BuyerRow& row : reader->rows(run).buyers)
                            found = found || row.serial == serial;
                        if (!found) ++uncommitted;
                        std::lock_guard lock(seen_mutex);
                        seen[t].push_back(serial);
                    });
                    answer.assign(answer.size(), 'x');  // the caller's buffer goes on
                }
            });
        for (auto& thread : threads)
            thread.join();
        writer.drain();
        std::lock_guard lock(seen_mutex);
        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPages)) << "drain returned early";
            for (int p = 0; p < kPages; ++p)
                EXPECT_EQ(seen[t][p], t * kPages + p + 1);
        }
    }
    EXPECT_EQ(uncommitted, 0) << "a page's then ran before another connection could read it";
    const auto answers = store->answers(run);
    ASSERT_EQ(answers.size(), static_cast<size_t>(kThreads * kPages));
    std::set<std::string> bodies;
    for (const StoredAnswer& answer : answers) {
        EXPECT_EQ(answer.source.address, "http://item.example/" + answer.body);
        bodies.insert(answer.body);
    }
    EXPECT_EQ(bodies.size(), answers.size());
}

TEST(PageWriter, NeitherADrainNorTheEndWaitsForTheGroupToFill) {
    TempFolder folder("zembra-page-writer");
    auto store = open_store(store_path(folder.path()), {});
    ASSERT_TRUE(store);
    const std::int64_t run = store->begin_run(RunKind::reviews, "");
    std::atomic<int> written{0};
    const auto start = std::chrono::steady_clock::now();
    {
        PageWriter writer(*store, std::chrono::hours(1));
        writer.write(page_of(run, 1, "http://a"), {}, [&](bool stored) { written += stored; });
        writer.drain();
        EXPECT_EQ(written, 1);
        writer.write(page_of(run, 2, "http://b"), {}, [&](bool stored) { written += stored; });
    }
    EXPECT_EQ(written, 2) << "the end dropped a queued page";
    EXPECT_EQ(store->rows(run).buyers.size(), 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(5));
}

}  // namespace
