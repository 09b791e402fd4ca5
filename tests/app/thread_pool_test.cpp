#include "app/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "runtime/stop.h"
#include "tests/support/gate.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Waits (without a window) until pred holds or the bound passes.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds bound = 5000ms) {
    const auto end = Clock::now() + bound;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Threads of this process.
int thread_count() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Values seen by the tasks, thread-safe.
struct Seen {
    std::mutex mutex;
    std::multiset<int> values;
    void add(int v) {
        std::lock_guard lock(mutex);
        values.insert(v);
    }
    std::multiset<int> get() {
        std::lock_guard lock(mutex);
        return values;
    }
    size_t size() {
        std::lock_guard lock(mutex);
        return values.size();
    }
};

TEST(ThreadPool, WorkerCountBelowOneRunsOneWorker) {
    const struct {
        int requested;
        int started;
    } cases[] = {{0, 1}, {-7, 1}, {1, 1}, {4, 4}};
    for (const auto& c : cases) {
        ThreadPool pool;
        ASSERT_TRUE(pool.Create(
            c.requested, [](int) {}, 0))
            << c.requested;
        EXPECT_EQ(pool.live_workers(), c.started) << c.requested;
        EXPECT_TRUE(pool.Destroy());
        EXPECT_EQ(pool.live_workers(), 0) << c.requested;
    }
}

TEST(ThreadPool, IdleAndRunningStates) {
    ThreadPool pool;
    EXPECT_FALSE(pool.IsCreated());
    EXPECT_FALSE(pool.Post(1)) << "posting to an idle pool";
    EXPECT_FALSE(pool.Destroy()) << "destroying an idle pool";

    ASSERT_TRUE(pool.Create(
        2, [](int) {}, 0));
    EXPECT_TRUE(pool.IsCreated());
    EXPECT_FALSE(pool.Create(
        2, [](int) {}, 0))
        << "a second Create while running";
    EXPECT_EQ(pool.live_workers(), 2) << "the refused Create started workers";

    EXPECT_TRUE(pool.Destroy());
    EXPECT_FALSE(pool.IsCreated());
    EXPECT_FALSE(pool.Post(1));
    EXPECT_FALSE(pool.Destroy()) << "a second Destroy";

    Seen seen;
    ASSERT_TRUE(pool.Create(
        1, [&](int v) { seen.add(v); }, 0))
        << "Create after Destroy";
    EXPECT_TRUE(pool.Post(9));
    EXPECT_TRUE(eventually([&] { return seen.size() == 1; }));
    EXPECT_TRUE(pool.Destroy());
}

TEST(ThreadPool, EveryPostedValueRunsExactlyOnce) {
    const struct {
        int workers;
        int time_limit_ms;
    } cases[] = {{1, 0}, {4, 0}, {3, 5000}, {8, -1}};
    for (const auto& c : cases) {
        Seen seen;
        ThreadPool pool;
        ASSERT_TRUE(pool.Create(
            c.workers, [&](int v) { seen.add(v); }, c.time_limit_ms));
        std::multiset<int> expected;
        for (int v = 0; v < 300; ++v) {
            ASSERT_TRUE(pool.Post(v));
            expected.insert(v);
        }
        EXPECT_TRUE(eventually([&] { return seen.size() >= expected.size(); }))
            << c.workers << " workers, limit " << c.time_limit_ms;
        EXPECT_TRUE(pool.Destroy());
        EXPECT_EQ(seen.get(), expected) << c.workers << " workers, limit " << c.time_limit_ms;
    }
}

TEST(ThreadPool, TaskOverrunningItsLimitIsAbandonedAndThePoolGoesOn) {
    std::atomic<bool> overrun_saw_stop{false};
    std::atomic<bool> overrun_left{false};
    std::atomic<bool> in_time_saw_stop{false};
    Seen finished;
    ThreadPool pool;
    ASSERT_TRUE(pool.Create(
        1,
        [&](int v) {
            if (v == 0) {
                // Hangs until abandoned, as a stalled fetch would.
                const auto end = Clock::now() + 10s;
                while (!current_run_stopped() && Clock::now() < end)
                    std::this_thread::sleep_for(1ms);
                overrun_saw_stop = current_run_stopped();
                overrun_left = true;
                return;  // a stopped task must not count as finished
            }
            in_time_saw_stop = in_time_saw_stop || current_run_stopped();
            finished.add(v);
        },
        100));
    const auto start = Clock::now();
    ASSERT_TRUE(pool.Post(0));
    ASSERT_TRUE(pool.Post(1));
    ASSERT_TRUE(pool.Post(2));
    // One worker: values 1 and 2 run only once the hung task was given up.
    ASSERT_TRUE(eventually([&] { return finished.size() == 2; }));
    EXPECT_LT(ms_since(start), 3000) << "the worker waited far past the limit";
    EXPECT_TRUE(eventually([&] { return overrun_left.load(); }));
    EXPECT_TRUE(overrun_saw_stop) << "the abandoned task's stop token was not set";
    EXPECT_FALSE(in_time_saw_stop) << "a task within its limit saw a stop";
    EXPECT_EQ(finished.get(), (std::multiset<int>{1, 2}));
    EXPECT_TRUE(pool.Destroy());
}

TEST(ThreadPool, DestroyReturnsAsSoonAsTheWorkersHaveLeft) {
    const long long waits[] = {5000, -1, 60000};
    for (long long wait : waits) {
        ThreadPool pool;
        ASSERT_TRUE(pool.Create(
            4, [](int) {}, 0));
        const auto start = Clock::now();
        EXPECT_TRUE(pool.Destroy(wait));
        EXPECT_LT(ms_since(start), 2000) << "wait " << wait;
        EXPECT_EQ(pool.live_workers(), 0) << "wait " << wait;
    }
}

TEST(ThreadPool, DestroyGivesUpOnABusyWorkerAfterItsWait) {
    Gate gate;
    std::atomic<bool> started{false};
    ThreadPool pool;
    ASSERT_TRUE(pool.Create(
        1, [&](int) { started = true, gate.wait(); }, 0));
    ASSERT_TRUE(pool.Post(0));
    ASSERT_TRUE(eventually([&] { return started.load(); }));
    const auto start = Clock::now();
    EXPECT_TRUE(pool.Destroy(150));
    const long long took = ms_since(start);
    EXPECT_GE(took, 100) << "did not wait for the busy worker";
    EXPECT_LT(took, 3000);
    EXPECT_EQ(pool.live_workers(), 1);
    gate.release();
    EXPECT_TRUE(eventually([&] { return pool.live_workers() == 0; }))
        << "the worker did not leave after its task";
}

TEST(ThreadPool, DestroyDropsValuesStillQueued) {
    Gate gate;
    Seen seen;
    ThreadPool pool;
    ASSERT_TRUE(pool.Create(
        1, [&](int v) { seen.add(v), gate.wait(); }, 0));
    for (int v = 0; v < 6; ++v)
        ASSERT_TRUE(pool.Post(v));
    ASSERT_TRUE(eventually([&] { return seen.size() == 1; }));
    EXPECT_TRUE(pool.Destroy(0));
    gate.release();
    EXPECT_TRUE(eventually([&] { return pool.live_workers() == 0; }));
    EXPECT_EQ(seen.get(), (std::multiset<int>{0}));
}

TEST(ThreadPool, TaskMayDestroyItsOwnPool) {
    ThreadPool pool;
    std::atomic<bool> returned{false};
    std::atomic<long long> took{-1};
    ASSERT_TRUE(pool.Create(
        2,
        [&](int) {
            const auto start = Clock::now();
            pool.Destroy();
            took = ms_since(start);
            returned = true;
        },
        0));
    ASSERT_TRUE(pool.Post(0));
    ASSERT_TRUE(eventually([&] { return returned.load(); }, 10000ms));
    EXPECT_LT(took.load(), 3000) << "the task waited for its own worker";
    EXPECT_FALSE(pool.IsCreated());
    EXPECT_TRUE(eventually([&] { return pool.live_workers() == 0; }));
}

TEST(ThreadPool, CopiesShareOnePoolAndTheLastOneStopsIt) {
    ThreadPool original;
    ASSERT_TRUE(original.Create(
        2, [](int) {}, 0));
    {
        ThreadPool copy = original;
        EXPECT_TRUE(copy.IsCreated());
        EXPECT_FALSE(copy.Create(
            1, [](int) {}, 0))
            << "the copy's Create is a second Create";
    }
    EXPECT_TRUE(original.IsCreated()) << "a copy going away stopped the shared pool";

    ThreadPool keeper;
    {
        ThreadPool last;
        ASSERT_TRUE(last.Create(
            3, [](int) {}, 0));
        keeper = last;
        EXPECT_TRUE(keeper.Destroy()) << "the copy did not see the running pool";
        EXPECT_FALSE(last.IsCreated());
        ASSERT_TRUE(last.Create(
            3, [](int) {}, 0));
    }
    EXPECT_TRUE(keeper.IsCreated());
    EXPECT_EQ(keeper.live_workers(), 3);
    const int threads_with_pool = thread_count();
    keeper = ThreadPool();  // the last reference goes
    EXPECT_TRUE(eventually([&] { return thread_count() <= threads_with_pool - 3; }))
        << "the last reference left the pool running";
    EXPECT_TRUE(original.Destroy());
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
