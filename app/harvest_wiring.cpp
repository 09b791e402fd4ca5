#include "app/harvest_wiring.h"

#include "app/app_state.h"
#include "app/results_recorder.h"
#include "app/workers.h"
#include "harvest/harvest_button.h"
#include "harvest/harvest_context.h"
#include "harvest/item_search_harvest.h"
#include "harvest/review_harvest.h"
#include "harvest/shop_harvest.h"
#include "harvest/sleeper.h"

void plug_harvests(AppState& state) {
    HarvestHooks& hooks = state.hooks;
    if (!hooks.item_harvest)
        hooks.item_harvest = [](Window& window, AppState& s) {
            RealSleeper sleeper;
            const auto sink = s.results ? s.results->item_search_run(s.values) : nullptr;
            HarvestContext ctx{window, s.values, s.hosts, sleeper, sink.get()};
            item_search_harvest(ctx);
        };
    if (!hooks.shop_harvest)
        hooks.shop_harvest = [](Window& window, AppState& s) {
            RealSleeper sleeper;
            HarvestContext ctx{window, s.values, s.hosts, sleeper};
            shop_item_harvest(ctx);
        };
    if (!hooks.harvest_click)
        hooks.harvest_click = [](Window& window, AppState& s) {
            HarvestWorkerControl control;
            control.start = [&window, &s](HarvestMode mode) {
                return start_harvest_worker(
                    window, s,
                    mode == HarvestMode::item_search ? s.hooks.item_harvest : s.hooks.shop_harvest);
            };
            control.stop = [&s] { stop_harvest_worker(s); };
            harvest_button_click(window, s.values, control);
        };
    if (!hooks.review_harvest)
        // The review worker claims its URL rows itself (ReviewCursor, ReviewRunFlag), so it runs
        // whole on the thread the window started and leaves no row function to call after it.
        hooks.review_harvest = [](Window& window, AppState& s) -> ReviewRowHarvest {
            RealSleeper sleeper;
            AnswerSink* sink = s.results ? s.results->join_reviews(window) : nullptr;
            HarvestContext ctx{window, s.values, s.hosts, sleeper, sink};
            review_worker(ctx);
            if (sink != nullptr) s.results->leave_reviews(window, s.values);
            return {};
        };
}
