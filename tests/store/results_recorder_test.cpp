// Three review workers writing through the recorder while they harvest the loopback marketplace:
// every row the list shows is stored under the number it shows, once, whether the run finishes or
// is stopped halfway (a page committed as the stop comes may be stored and not shown). Without the
// window, so the recorder's threads also run under the thread sanitizer.
#include "store/results_recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stop_token>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "harvest/review_harvest.h"
#include "runtime/stop.h"
#include "store/sqlite_store.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr int kWorkers = 3;

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(market.ok());
        urls = add_review_items(market, 12, 3, 4, [](int item, int page, int buyer) {
            return "b" + std::to_string(item) + "p" + std::to_string(page) + "n" +
                   std::to_string(buyer);
        });
        std::vector<std::vector<Text>> rows;
        for (const auto& u : urls)
            rows.push_back({u});
        window.append_rows(controls::kUrlList, rows);
        values.ReviewRunFlag = 1;
    }

    // The workers as 按钮3_批量获取 starts them, each joining the recorder's run.
    void harvest(ResultsRecorder& recorder, std::stop_token stop) {
        std::vector<std::thread> threads;
        for (int w = 0; w < kWorkers; ++w)
            threads.emplace_back([&] {
                const StopScope scope(stop);
                AnswerSink* sink = recorder.join_reviews(window);
                HarvestContext ctx{window, values, hosts, sleeper, sink};
                review_worker(ctx);
                recorder.leave_reviews(window, values);
            });
        for (auto& t : threads)
            t.join();
    }

    // The rows the buyer list shows are the first the store keeps, numbers and IDs alike.
    static void expect_stored_as_shown(MemoryWindow& window, SqliteStore& store, bool all) {
        const auto shown = window.rows(controls::kBuyerList);
        const auto stored = store.rows(1).buyers;
        if (all) {
            EXPECT_EQ(stored.size(), shown.size());
        }
        ASSERT_GE(stored.size(), shown.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].at(0), std::to_string(stored[i].serial)) << i;
            EXPECT_EQ(shown[i].at(1), stored[i].buyer_id) << i;
        }
    }

    Marketplace market;
    ProxyEnvironment proxy{market};
    std::vector<std::string> urls;
    TempFolder folder{"zembra-recorder"};
    MemoryWindow window;
    ProgramValues values;
    HostSettings hosts = Marketplace::hosts();
    ScaledSleeper sleeper{1000};
};

SqliteStore& store_of(ResultsRecorder& recorder) {
    return *static_cast<SqliteStore*>(recorder.store());
}

TEST_F(RecorderTest, AFinishedRunHoldsEveryShownRowAndEveryAddressDone) {
    auto recorder = open_results(store_path(folder.path()), {}, {});
    ASSERT_NE(recorder->store(), nullptr);
    harvest(*recorder, {});

    EXPECT_EQ(window.row_count(controls::kBuyerList), 12 * 3 * 4);
    expect_stored_as_shown(window, store_of(*recorder), true);
    const auto runs = store_of(*recorder).run_counts();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].run.ending, RunEnding::finished);
    for (const StoredUrl& url : recorder->store()->urls(1))
        EXPECT_EQ(url.state, UrlState::done) << url.position;
}

TEST_F(RecorderTest, AStoppedRunHoldsEveryShownRow) {
    auto recorder = open_results(store_path(folder.path()), {}, {});
    ASSERT_NE(recorder->store(), nullptr);
    // Slow answers, so the stop lands while pages are on their way to the writer.
    market.set_before_answer(
        [](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
    std::stop_source stop;
    std::thread stopper([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (window.row_count(controls::kBuyerList) < 40 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop.request_stop();
    });
    harvest(*recorder, stop.get_token());
    stopper.join();

    EXPECT_LT(window.row_count(controls::kBuyerList), 12 * 3 * 4);
    expect_stored_as_shown(window, store_of(*recorder), false);
    const auto runs = store_of(*recorder).run_counts();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].run.ending, RunEnding::stopped);
}

}  // namespace
