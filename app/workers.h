#pragma once
// Background workers of the item/shop harvest and the review harvest. A worker runs on a thread of
// its own with its run's stop token installed; stopping a run sets that token and returns at once:
// the window drops every control operation the run still sends and its transfers abort, so nothing
// of it reaches the window after the click. No thread is killed and the window never waits for one.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "runtime/text.h"

class Window;
struct AppState;

// Five worker slots: slot 0 holds the item/shop harvest run; a stop covers slots 0, 1 and 2. The
// table owns every worker thread it starts: a finished one is joined at the next start, and the
// table's end stops the runs still going and joins them.
class WorkerHandleTable {
public:
    static constexpr int kSlots = 5;

    WorkerHandleTable();
    ~WorkerHandleTable();
    WorkerHandleTable(const WorkerHandleTable&) = delete;
    WorkerHandleTable& operator=(const WorkerHandleTable&) = delete;

    // Runs body on a new thread holding the given slot (a previous run there is left to end on
    // its own); body sees the run's stop token as its current one, from `stop` when given. A body
    // that returns empties its slot unless a newer run took it. False when no thread could be
    // started.
    bool start(int slot, std::function<void()> body, std::stop_source stop = {});
    // A thread that belongs to no slot (review workers), counted like the others.
    bool start_unslotted(std::function<void()> body);
    // Sets the stop token of the run in the slot, if any, and empties the slot. Returns at once.
    void stop(int slot);
    bool occupied(int slot) const;
    // Worker threads started here that have not finished yet.
    int live() const;
    // Waits until no worker is alive or ms have passed, keeping the window responsive when called
    // on its thread. True when none is alive.
    bool wait_idle(long long ms) const;

private:
    struct Run {
        std::uint64_t id = 0;
        std::stop_source stop;
        std::atomic<bool> finished{false};
    };
    struct Worker {
        std::shared_ptr<Run> run;
        std::thread thread;
    };
    bool launch(int slot, std::function<void()> body, std::stop_source stop);
    void release(int slot, std::uint64_t id);
    void join_finished();

    mutable std::mutex mutex_;
    std::array<std::shared_ptr<Run>, kSlots> runs_;
    std::uint64_t next_id_ = 1;
    std::atomic<int> live_{0};
    std::vector<Worker> workers_;
};

// A harvest as a worker runs it, on the worker's thread.
using HarvestEntry = std::function<void(Window& window, AppState& state)>;

// Thread side of a harvest start: StopFlag = 0, entry on a new worker in slot 0.
bool start_harvest_worker(Window& window, AppState& state, const HarvestEntry& entry);
// Thread side of a stop: StopFlag = 1 and the runs of slots 0, 1 and 2 stopped, without waiting.
void stop_harvest_worker(AppState& state);

// The click of 按钮3_批量获取: ReviewRunFlag = 1 and one more review worker running entry. Each
// worker claims URL rows one at a time (each row goes to exactly one worker) until the list is
// exhausted.
bool start_review_worker(Window& window, AppState& state, const HarvestEntry& entry);
