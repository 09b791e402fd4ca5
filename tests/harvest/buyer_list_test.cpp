// Buyer rows of several workers: their rows are stored at the same time, yet shown in number
// order, each only after it was stored; a turn a worker gives up does not hold up the others.
#include "harvest/buyer_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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
    Gate first_storing, second_storing;
    std::atomic<bool> second_stored_meanwhile{false};
    std::atomic<int> shown_while_first_stored{-1};
    std::atomic<int> shown_while_second_stored{-1};

    // The first worker is still storing when the second one stores and returns.
    std::thread first([&] {
        list_buyers(window, controls::kBuyerList, answer_with({"a1", "a2", "a3"}), order, counter,
                    [&](int, const std::vector<Text>&) {
                        first_storing.release();
                        second_storing.wait();
                        {
                            std::lock_guard lock(second_storing.mutex);
                            second_stored_meanwhile = second_storing.open;
                        }
                        // A second worker that did not wait for its turn would show now.
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                        shown_while_first_stored = window.row_count(controls::kBuyerList);
                    });
    });
    first_storing.wait();
    std::thread second([&] {
        list_buyers(window, controls::kBuyerList, answer_with({"b1", "b2"}), order, counter,
                    [&](int, const std::vector<Text>&) {
                        shown_while_second_stored = window.row_count(controls::kBuyerList);
                        second_storing.release();
                    });
    });
    first.join();
    second.join();

    EXPECT_TRUE(second_stored_meanwhile) << "the second worker could not store meanwhile";
    EXPECT_EQ(shown_while_first_stored, 0);
    EXPECT_EQ(shown_while_second_stored, 0);
    EXPECT_EQ(window.rows(controls::kBuyerList),
              (Rows{{"1", "a1"}, {"2", "a2"}, {"3", "a3"}, {"4", "b1"}, {"5", "b2"}}));
}

TEST(BuyerList, ManyWorkersKeepEveryNumberOnceAndInOrder) {
    MemoryWindow window;
    RowOrder order;
    std::atomic<int> counter{0};
    std::atomic<int> stored{0};
    constexpr int kWorkers = 6;
    constexpr int kAnswers = 50;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int a = 0; a < kAnswers; ++a)
                list_buyers(window, controls::kBuyerList,
                            answer_with({"w" + std::to_string(w) + "a" + std::to_string(a) + "x",
                                         "w" + std::to_string(w) + "a" + std::to_string(a) + "y"}),
                            order, counter, [&](int first, const std::vector<Text>& ids) {
                                // Stored before shown: none of these numbers is in the list yet.
                                EXPECT_LT(window.row_count(controls::kBuyerList), first);
                                stored += static_cast<int>(ids.size());
                            });
        });
    for (auto& w : workers)
        w.join();
    const Rows rows = window.rows(controls::kBuyerList);
    ASSERT_EQ(rows.size(), static_cast<size_t>(kWorkers * kAnswers * 2));
    EXPECT_EQ(stored.load(), kWorkers * kAnswers * 2);
    for (size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i][0], std::to_string(i + 1)) << "row " << i;
}

TEST(RowOrder, ATurnGivenUpPassesOn) {
    // Shared with the thread below, which outlives a failed test.
    auto order = std::make_shared<RowOrder>();
    auto given_up = order->take([] { return true; });
    auto next = order->take([] { return true; });
    EXPECT_FALSE(order->take([] { return false; })) << "a declined take gets no ticket";
    ASSERT_TRUE(given_up && next);
    given_up.reset();  // e.g. a stopped worker that shows nothing
    // Shown on a thread of its own, so a turn that never comes fails the test instead of hanging
    // it.
    auto shown = std::make_shared<std::atomic<bool>>(false);
    std::thread([order, shown, ticket = std::move(*next)]() mutable {
        ticket.show([&] { *shown = true; });
    }).detach();
    for (int i = 0; i < 1000 && !*shown; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(*shown);
}

}  // namespace
