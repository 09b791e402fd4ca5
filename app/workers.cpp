#include "app/workers.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <system_error>
#include <thread>

#include "app/app_state.h"
#include "harvest/controls.h"
#include "runtime/services.h"
#include "runtime/stop.h"

WorkerHandleTable::WorkerHandleTable() = default;

WorkerHandleTable::~WorkerHandleTable() {
    std::vector<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (Worker& worker : workers)
        worker.run->stop.request_stop();
    for (Worker& worker : workers)
        worker.thread.join();
}

void WorkerHandleTable::release(int slot, std::uint64_t id) {
    if (slot < 0) return;
    std::lock_guard lock(mutex_);
    auto& held = runs_[static_cast<size_t>(slot)];
    if (held && held->id == id) held.reset();
}

void WorkerHandleTable::join_finished() {
    std::vector<Worker> done;
    {
        std::lock_guard lock(mutex_);
        const auto finished = std::partition(workers_.begin(), workers_.end(), [](const Worker& w) {
            return !w.run->finished.load();
        });
        std::move(finished, workers_.end(), std::back_inserter(done));
        workers_.erase(finished, workers_.end());
    }
    for (Worker& worker : done)
        worker.thread.join();  // past its last step already
}

bool WorkerHandleTable::launch(int slot, std::function<void()> body, std::stop_source stop) {
    join_finished();
    auto run = std::make_shared<Run>();
    run->stop = std::move(stop);
    {
        std::lock_guard lock(mutex_);
        run->id = next_id_++;
        if (slot >= 0) runs_[static_cast<size_t>(slot)] = run;
    }
    live_.fetch_add(1);
    try {
        std::thread thread([this, slot, run, body = std::move(body)] {
            {
                const StopScope scope(run->stop.get_token());
                body();
            }
            release(slot, run->id);
            live_.fetch_sub(1);
            run->finished.store(true);
        });
        std::lock_guard lock(mutex_);
        workers_.push_back({run, std::move(thread)});
    } catch (const std::system_error&) {
        release(slot, run->id);
        live_.fetch_sub(1);
        return false;
    }
    return true;
}

bool WorkerHandleTable::start(int slot, std::function<void()> body, std::stop_source stop) {
    if (slot < 0 || slot >= kSlots) return false;
    return launch(slot, std::move(body), std::move(stop));
}

bool WorkerHandleTable::start_unslotted(std::function<void()> body) {
    return launch(-1, std::move(body), {});
}

void WorkerHandleTable::stop(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(mutex_);
        run = std::move(runs_[static_cast<size_t>(slot)]);
    }
    if (run) run->stop.request_stop();
}

bool WorkerHandleTable::occupied(int slot) const {
    if (slot < 0 || slot >= kSlots) return false;
    std::lock_guard lock(mutex_);
    return runs_[static_cast<size_t>(slot)] != nullptr;
}

int WorkerHandleTable::live() const {
    return live_.load();
}

bool WorkerHandleTable::wait_idle(long long ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (live_.load() > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        wait_pumping(std::min<long long>(left, 5));
    }
    return true;
}

bool start_harvest_worker(Window& window, AppState& state, const HarvestEntry& entry) {
    state.values.StopFlag.store(0);
    if (!entry) return false;
    // The run's stop signal is the one StopFlag reads.
    return state.WorkerHandles.start(
        0, [&window, &state, entry] { entry(window, state); }, state.values.StopFlag.source());
}

void stop_harvest_worker(AppState& state) {
    state.values.StopFlag.store(1);
    for (int slot = 0; slot < 3; ++slot)
        state.WorkerHandles.stop(slot);
}

bool start_review_worker(Window& window, AppState& state, const HarvestEntry& entry) {
    state.values.ReviewRunFlag.store(1);
    if (!entry) return false;
    return state.WorkerHandles.start_unslotted([&window, &state, entry] { entry(window, state); });
}
