#include "app/workers.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "app/app_state.h"
#include "harvest/controls.h"
#include "harvest/review_harvest.h"
#include "harvest/window.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"

namespace {

constexpr std::string_view kHarvestButton = controls::kHarvestButton;
constexpr std::string_view kModeBox = controls::kMode;
constexpr std::string_view kUrlList = controls::kUrlList;

const Text& caption_collect() {
    static const Text text = utf8_to_gbk("采集");
    return text;
}

const Text& caption_stop() {
    static const Text text = utf8_to_gbk("停止");
    return text;
}

}  // namespace

void WorkerHandleTable::Shared::release(int slot, std::uint64_t id) {
    if (slot < 0) return;
    std::lock_guard lock(mutex);
    auto& held = runs[static_cast<size_t>(slot)];
    if (held && held->id == id) held.reset();
}

bool WorkerHandleTable::launch(int slot, std::function<void()> body) {
    auto run = std::make_shared<Run>();
    {
        std::lock_guard lock(shared_->mutex);
        run->id = shared_->next_id++;
        if (slot >= 0) shared_->runs[static_cast<size_t>(slot)] = run;
    }
    shared_->live.fetch_add(1);
    try {
        std::thread([shared = shared_, slot, run, body = std::move(body)] {
            set_current_stop_token(run->stop.get_token());
            body();
            shared->release(slot, run->id);
            shared->live.fetch_sub(1);
        }).detach();
    } catch (const std::system_error&) {
        shared_->release(slot, run->id);
        shared_->live.fetch_sub(1);
        return false;
    }
    return true;
}

bool WorkerHandleTable::start(int slot, std::function<void()> body) {
    if (slot < 0 || slot >= kSlots) return false;
    return launch(slot, std::move(body));
}

bool WorkerHandleTable::start_unslotted(std::function<void()> body) {
    return launch(-1, std::move(body));
}

void WorkerHandleTable::stop(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(shared_->mutex);
        run = std::move(shared_->runs[static_cast<size_t>(slot)]);
    }
    if (run) run->stop.request_stop();
}

bool WorkerHandleTable::occupied(int slot) const {
    if (slot < 0 || slot >= kSlots) return false;
    std::lock_guard lock(shared_->mutex);
    return shared_->runs[static_cast<size_t>(slot)] != nullptr;
}

int WorkerHandleTable::live() const {
    return shared_->live.load();
}

bool WorkerHandleTable::wait_idle(long long ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (shared_->live.load() > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        wait_pumping(std::min<long long>(left, 5));
    }
    return true;
}

bool start_harvest_worker(Window& window, AppState& state, HarvestEntry entry) {
    state.values.StopFlag.store(0);
    if (!entry) return false;
    return state.WorkerHandles.start(
        0, [&window, &state, entry = std::move(entry)] { entry(window, state); });
}

void stop_harvest_worker(AppState& state) {
    state.values.StopFlag.store(1);
    for (int slot = 0; slot < 3; ++slot)
        state.WorkerHandles.stop(slot);
}

void harvest_button_clicked(Window& window, AppState& state) {
    if (state.hooks.harvest_click) {
        state.hooks.harvest_click(window, state);
        return;
    }
    if (window.text(kHarvestButton) == caption_collect()) {
        const HarvestEntry& entry =
            window.selection(kModeBox) == 0 ? state.hooks.item_harvest : state.hooks.shop_harvest;
        start_harvest_worker(window, state, entry);
        window.set_text(kHarvestButton, caption_stop());
    } else {
        window.set_text(kHarvestButton, caption_collect());
        stop_harvest_worker(state);
    }
}

namespace {

void review_worker(Window& window, AppState& state, const ReviewHarvest& harvest) {
    ReviewRowHarvest row_harvest = harvest(window, state);
    if (!row_harvest) return;
    while (state.values.ReviewRunFlag.load() != 0) {
        const int claimed = claim_review_row(window, state.values);
        if (claimed < 0) return;
        if (!row_harvest(window.cell(kUrlList, claimed, 0), claimed)) return;
    }
}

}  // namespace

bool start_review_worker(Window& window, AppState& state, ReviewHarvest harvest) {
    state.values.ReviewRunFlag.store(1);
    if (!harvest) return false;
    return state.WorkerHandles.start_unslotted(
        [&window, &state, harvest = std::move(harvest)] { review_worker(window, state, harvest); });
}
