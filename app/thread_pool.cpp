#include "app/thread_pool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

#include "runtime/services.h"
#include "runtime/stop.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 100ms;
constexpr long long kLongestWait = 25'000'000;

// One Create..Destroy span: its queue, its flag and its workers. Workers hold it, so it lives until
// the last of them has left, even after the pool has moved on to a new run.
struct Run {
    ThreadPool::Task task;
    ThreadPool::Task on_overrun;
    int time_limit_ms = 0;
    std::atomic<bool> running{true};
    std::atomic<int> live{0};
    std::shared_ptr<std::atomic<int>> pool_live;  // the pool's workers of every run
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<int> queue;
};

thread_local const Run* current_run = nullptr;  // set on pool worker threads

// A task thread's completion, shared with the thread so an abandoned thread can still report it.
struct TaskDone {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};

// The one thread the program ever abandons: a task past its time limit. Its stop token is set, so
// its transfers abort and the window drops what it still sends; it ends on its own, holding what
// it uses.
void abandon_overrunning_task(std::stop_source& stop, std::thread& task_thread) {
    stop.request_stop();
    task_thread.detach();
}

void run_limited(const std::shared_ptr<Run>& run, int value) {
    auto done = std::make_shared<TaskDone>();
    std::stop_source stop;
    std::thread task_thread;
    try {
        task_thread = std::thread([task = run->task, value, done, token = stop.get_token()] {
            {
                const StopScope scope(token);
                task(value);
            }
            {
                std::lock_guard lock(done->mutex);
                done->done = true;
            }
            done->cv.notify_all();
        });
    } catch (const std::system_error&) {
        if (run->on_overrun) run->on_overrun(value);  // no thread to be had
        return;
    }
    bool finished;
    {
        std::unique_lock lock(done->mutex);
        finished = done->cv.wait_for(lock, std::chrono::milliseconds(run->time_limit_ms),
                                     [&] { return done->done; });
    }
    if (finished) {
        task_thread.join();
    } else {
        abandon_overrunning_task(stop, task_thread);
        if (run->on_overrun) run->on_overrun(value);
    }
}

void pool_worker(std::shared_ptr<Run> run) {
    current_run = run.get();
    while (run->running.load()) {
        int value;
        {
            std::unique_lock lock(run->mutex);
            if (!run->wake.wait_for(lock, kPollInterval,
                                    [&] { return !run->queue.empty() || !run->running.load(); }))
                continue;
            if (!run->running.load()) break;
            value = run->queue.front();
            run->queue.pop_front();
        }
        if (run->time_limit_ms > 0)
            run_limited(run, value);
        else
            run->task(value);
    }
    current_run = nullptr;
    run->live.fetch_sub(1);
    run->pool_live->fetch_sub(1);
}

}  // namespace

// Workers of an ended run that were still busy when it ended; joined once they have all left.
struct Leftover {
    std::shared_ptr<Run> run;
    std::vector<std::thread> threads;
};

struct ThreadPool::Shared {
    std::mutex mutex;
    std::shared_ptr<Run> run;  // null while idle
    std::vector<std::thread> threads;
    std::vector<Leftover> leftovers;
    std::shared_ptr<std::atomic<int>> live = std::make_shared<std::atomic<int>>(0);

    bool destroy(long long wait_ms);
    void join_leftovers(bool wait);
    ~Shared() {
        destroy(1);
        join_leftovers(true);
    }
};

void ThreadPool::Shared::join_leftovers(bool wait) {
    std::vector<Leftover> ready;
    {
        std::lock_guard lock(mutex);
        for (auto it = leftovers.begin(); it != leftovers.end();) {
            if (wait || it->run->live.load() == 0) {
                ready.push_back(std::move(*it));
                it = leftovers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Leftover& leftover : ready)
        for (std::thread& thread : leftover.threads) {
            if (thread.get_id() == std::this_thread::get_id())
                thread.detach();  // the pool's last owner went on this very worker: it is leaving
            else
                thread.join();
        }
}

bool ThreadPool::Shared::destroy(long long wait_ms) {
    std::shared_ptr<Run> ending;
    std::vector<std::thread> ending_threads;
    {
        std::lock_guard lock(mutex);
        if (!run) return false;
        ending = std::move(run);
        ending_threads = std::move(threads);
        run.reset();
        threads.clear();
    }
    {
        std::lock_guard lock(ending->mutex);
        ending->running.store(false);
        ending->queue.clear();
    }
    ending->wake.notify_all();

    if (wait_ms == -1) wait_ms = kLongestWait;
    // A task that destroys its own pool cannot wait for the worker it runs on.
    const int self = current_run == ending.get() ? 1 : 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0LL, wait_ms));
    while (ending->live.load() > self) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        wait_pumping(std::min<long long>(left, 5));  // the window stays responsive meanwhile
    }
    const bool all_left = ending->live.load() == self;
    if (all_left && self == 0) {
        for (auto& thread : ending_threads)
            thread.join();
    } else {
        // Still busy (or this is one of them): kept, and joined once they have left.
        std::lock_guard lock(mutex);
        leftovers.push_back({ending, std::move(ending_threads)});
    }
    join_leftovers(false);
    return true;
}

ThreadPool::ThreadPool() : shared_(std::make_shared<Shared>()) {}

bool ThreadPool::Create(int workers, Task task, int time_limit_ms, Task on_overrun) {
    shared_->join_leftovers(false);
    std::lock_guard lock(shared_->mutex);
    if (shared_->run) return false;
    workers = std::max(workers, 1);
    auto run = std::make_shared<Run>();
    run->task = std::move(task);
    run->on_overrun = std::move(on_overrun);
    run->time_limit_ms = time_limit_ms;
    run->pool_live = shared_->live;
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
        run->live.fetch_add(1);
        run->pool_live->fetch_add(1);
        try {
            threads.emplace_back(pool_worker, run);
        } catch (const std::system_error&) {
            run->live.fetch_sub(1);
            run->pool_live->fetch_sub(1);
            break;  // run with the workers we got
        }
    }
    if (threads.empty()) return false;
    shared_->run = std::move(run);
    shared_->threads = std::move(threads);
    return true;
}

bool ThreadPool::Post(int value) {
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(shared_->mutex);
        run = shared_->run;
    }
    if (!run) return false;
    {
        std::lock_guard lock(run->mutex);
        if (!run->running.load()) return false;
        run->queue.push_back(value);
    }
    run->wake.notify_one();
    return true;
}

bool ThreadPool::Destroy(long long wait_ms) {
    return shared_->destroy(wait_ms);
}

bool ThreadPool::IsCreated() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->run != nullptr;
}

int ThreadPool::live_workers() const {
    return shared_->live->load();
}
