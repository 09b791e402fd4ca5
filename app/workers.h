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

#include "runtime/text.h"

class Window;
struct AppState;

// Five worker slots: slot 0 holds the item/shop harvest run; a stop covers slots 0, 1 and 2.
class WorkerHandleTable {
public:
    static constexpr int kSlots = 5;

    // Runs body on a new thread holding the given slot (any previous run there is left to end on
    // its own); body sees the run's stop token as its current one. A body that returns empties its
    // slot unless a newer run took it. False when no thread could be started.
    bool start(int slot, std::function<void()> body);
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
    };
    // Shared with the worker threads, which may outlive the table.
    struct Shared {
        std::mutex mutex;
        std::array<std::shared_ptr<Run>, kSlots> runs;
        std::uint64_t next_id = 1;
        std::atomic<int> live{0};
        void release(int slot, std::uint64_t id);
    };
    bool launch(int slot, std::function<void()> body);

    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// What the 采集 button runs on its worker: the item search or the shop item harvest.
using HarvestEntry = std::function<void(Window& window, AppState& state)>;

// One review worker's harvest of one claimed URL row; false ends the worker (for instance when the
// item ID is missing).
using ReviewRowHarvest = std::function<bool(const Text& url, int row)>;
// Called once on each review worker's thread before its first row, so the worker's own objects (its
// HTTP request object) live as long as the worker.
using ReviewHarvest = std::function<ReviewRowHarvest(Window& window, AppState& state)>;

// Thread side of a harvest start: StopFlag = 0, entry on a new worker in slot 0.
bool start_harvest_worker(Window& window, AppState& state, HarvestEntry entry);
// Thread side of a stop: StopFlag = 1 and the runs of slots 0, 1 and 2 stopped, without waiting.
void stop_harvest_worker(AppState& state);

// The click of 按钮_采集. The harvest code plugs its own handler (input checks, search parameters,
// captions) into AppState::hooks.harvest_click; until then this is a plain start/stop toggle on the
// button's caption that runs hooks.item_harvest, or hooks.shop_harvest when 组合框1 is not 0.
void harvest_button_clicked(Window& window, AppState& state);

// The click of 按钮3_批量获取: ReviewRunFlag = 1 and one more review worker. Each worker claims URL
// rows one at a time (each row goes to exactly one worker) until the list is exhausted.
bool start_review_worker(Window& window, AppState& state, ReviewHarvest harvest);
