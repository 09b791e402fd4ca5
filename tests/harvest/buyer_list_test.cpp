// Buyer rows of several workers: their rows are stored at the same time, yet shown in number
// order, each only after it was stored, and no worker waits for another's turn; a turn a worker
// gives up does not hold up the others.
#include "harvest/buyer_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "tests/support/gate.h"
#include "tests/support/memory_window.h"

namespace {

using Rows = std::vector<std::vector<Text>>;

Text answer_with(const std::vector<Text>& ids) {
    Text answer = "{\"rateList\":[";
    for (const Text& id : ids)
        answer += "{\"displayUserNick\":\"" + Text(kBuyerMarker) + id + "-x\"},";
    return answer + "]}";
}

TEST(BuyerList, WorkersStoreAtTheSameTimeAndStillShowInNumberOrder) {
    MemoryWindow window;
    RowOrder order;
    std::atomic<int> counter{0};
    Gate first_storing, second_returned;
    std::atomic<int> shown_while_first_stored{-1};

    // The first worker is still storing when the second one stores, shows and returns.
    std::thread first([&] {
        list_buyers(window, controls::kBuyerList, answer_with({"a1", "a2", "a3"}), order, counter,
                    [&](int, const std::vector<Text>&, std::function<void()> show) {
                        first_storing.release();
                        second_returned.wait();
                        shown_while_first_stored = window.row_count(controls::kBuyerList);
                        show();
                    });
    });
    first_storing.wait();
    std::thread second([&] {
        list_buyers(window, controls::kBuyerList, answer_with({"b1", "b2"}), order, counter,
                    [&](int, const std::vector<Text>&, std::function<void()> show) { show(); });
    });
    second.join();  // it did not wait for the first one's turn
    second_returned.release();
    first.join();

    EXPECT_EQ(shown_while_first_stored, 0) << "the second worker's rows went ahead of the first's";
    EXPECT_EQ(window.rows(controls::kBuyerList),
              (Rows{{"1", "a1"}, {"2", "a2"}, {"3", "a3"}, {"4", "b1"}, {"5", "b2"}}));
}

// Some workers show their rows themselves, the others hand them to a writer thread that shows them
// in the order they reach it, as the results store does once they are committed.
TEST(BuyerList, ManyWorkersKeepEveryNumberOnceAndInOrder) {
    MemoryWindow window;
    RowOrder order;
    std::atomic<int> counter{0};
    std::atomic<int> stored{0};
    std::mutex handed_mutex;
    std::condition_variable handed_changed;
    std::deque<std::function<void()>> handed;
    bool workers_done = false;
    std::thread writer([&] {
        std::unique_lock lock(handed_mutex);
        for (;;) {
            handed_changed.wait(lock, [&] { return !handed.empty() || workers_done; });
            if (handed.empty()) return;
            auto show = std::move(handed.front());
            handed.pop_front();
            lock.unlock();
            show();
            lock.lock();
        }
    });
    constexpr int kWorkers = 6;
    constexpr int kAnswers = 50;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int a = 0; a < kAnswers; ++a) {
                const std::string name = "w" + std::to_string(w) + "a" + std::to_string(a);
                list_buyers(
                    window, controls::kBuyerList, answer_with({name + "x", name + "y"}), order,
                    counter,
                    [&](int first, const std::vector<Text>& ids, std::function<void()> show) {
                        // Stored before shown: none of these numbers is in the list yet.
                        EXPECT_LT(window.row_count(controls::kBuyerList), first);
                        stored += static_cast<int>(ids.size());
                        if (w % 2 == 0) {
                            show();
                            return;
                        }
                        std::lock_guard lock(handed_mutex);
                        handed.push_back(std::move(show));
                        handed_changed.notify_one();
                    });
            }
        });
    for (auto& w : workers)
        w.join();
    {
        std::lock_guard lock(handed_mutex);
        workers_done = true;
        handed_changed.notify_one();
    }
    writer.join();
    const Rows rows = window.rows(controls::kBuyerList);
    ASSERT_EQ(rows.size(), static_cast<size_t>(kWorkers * kAnswers * 2));
    EXPECT_EQ(stored.load(), kWorkers * kAnswers * 2);
    for (size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i][0], std::to_string(i + 1)) << "row " << i;
}

TEST(RowOrder, TurnsRunInOrderWhoeverEndsTheTurnBefore) {
    RowOrder order;
    std::vector<std::string> shown;
    auto first = order.take([] { return true; });
    auto given_up = order.take([] { return true; });
    EXPECT_FALSE(order.take([] { return false; })) << "a declined take gets no ticket";
    std::stop_source stopped;
    stopped.request_stop();
    auto third = [&] {
        const StopScope scope(stopped.get_token());  // taken by a run that is stopped
        return order.take([] { return true; });
    }();
    auto fourth = order.take([] { return true; });
    ASSERT_TRUE(first && given_up && third && fourth);

    fourth->show([&] { shown.push_back(current_run_stopped() ? "fourth stopped" : "fourth"); });
    third->show([&] { shown.push_back(current_run_stopped() ? "third stopped" : "third"); });
    given_up.reset();  // e.g. a stopped worker that shows nothing
    EXPECT_TRUE(shown.empty()) << "shown before the first turn";
    first->show([&] { shown.push_back("first"); });
    // The thread that ended the first turn ran the others, each under its taker's stop token.
    EXPECT_EQ(shown, (std::vector<std::string>{"first", "third stopped", "fourth"}));
    EXPECT_FALSE(current_run_stopped());

    auto fifth = order.take([] { return true; });
    fifth->show([&] { shown.push_back("fifth"); });
    EXPECT_EQ(shown.back(), "fifth") << "a ticket whose turn has come shows at once";
}

}  // namespace
