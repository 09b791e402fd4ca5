#include "app/harvest_entries.h"

#include "app/app_state.h"
#include "harvest/harvest_context.h"
#include "harvest/item_search_harvest.h"
#include "harvest/review_harvest.h"
#include "harvest/shop_harvest.h"
#include "harvest/sleeper.h"
#include "store/results_recorder.h"

HarvestEntries program_harvests() {
    HarvestEntries entries;
    entries.item_search = [](Window& window, AppState& state) {
        RealSleeper sleeper;
        const auto sink = state.results ? state.results->item_search_run(state.values) : nullptr;
        HarvestContext ctx{window, state.values, state.hosts, sleeper, sink.get()};
        item_search_harvest(ctx);
    };
    entries.shop_items = [](Window& window, AppState& state) {
        RealSleeper sleeper;
        const auto sink = state.results ? state.results->shop_items_run(window) : nullptr;
        HarvestContext ctx{window, state.values, state.hosts, sleeper, sink.get()};
        shop_item_harvest(ctx);
    };
    // Each review worker claims its URL rows itself (ReviewCursor, ReviewRunFlag).
    entries.review = [](Window& window, AppState& state) {
        RealSleeper sleeper;
        AnswerSink* sink = state.results ? state.results->join_reviews(window) : nullptr;
        HarvestContext ctx{window, state.values, state.hosts, sleeper, sink};
        review_worker(ctx);
        if (sink != nullptr) state.results->leave_reviews(window, state.values);
    };
    entries.member_id = member_id_task();
    return entries;
}
