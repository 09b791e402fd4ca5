#include "cli/commands.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "cli/cli_window.h"
#include "cli/exit_codes.h"
#include "cli/progress.h"
#include "cli/run_support.h"
#include "cli/store_sink.h"
#include "harvest/controls.h"
#include "harvest/exported_lists.h"
#include "harvest/harvest_button.h"
#include "harvest/harvest_context.h"
#include "harvest/item_search_harvest.h"
#include "harvest/member_lookup.h"
#include "harvest/program_values.h"
#include "harvest/review_harvest.h"
#include "harvest/shop_harvest.h"
#include "harvest/sleeper.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/list_file.h"
#include "runtime/stop.h"

namespace {

constexpr std::string_view kItemList = controls::kItemList;
constexpr std::string_view kUrlList = controls::kUrlList;
constexpr std::string_view kNameList = controls::kNameList;
constexpr std::string_view kShopList = controls::kShopBox;
constexpr int kNameColumn = 1;
constexpr int kIdColumn = 2;
constexpr int kPagePane = 7;
constexpr int kEntryPane = 5;

struct Captions {
    Text login_needed = utf8_to_gbk("需要登陆！");
    Text collect = utf8_to_gbk("采集");
};

const Captions& captions() {
    static const Captions texts;
    return texts;
}

int end_code(bool was_interrupted, bool wrote, const MessageLog& messages,
             const MarketTrouble* trouble = nullptr) {
    if (!wrote) return kExitBadInput;
    if (trouble != nullptr && trouble->happened()) return trouble->exit_code();
    if (was_interrupted) return kExitInterrupted;
    return messages.empty() ? kExitDone : kExitBadInput;
}

// Polled while the run goes on: the watch's end of the run stops its other threads too.
std::function<bool()> give_up_on(MarketTrouble& trouble, const ProgramValues& values) {
    return [&trouble, &values] {
        trouble.note(values.WatchEnding.load());
        return trouble.happened();
    };
}

// The search's inputs as typed, "name=value" lines, for the store's record of the run.
std::string search_parameters(const SearchOptions& o) {
    return "keyword=" + o.keyword + "\npages=" + std::to_string(o.pages) + "\nlow=" + o.low +
           "\nhigh=" + o.high + "\nmall_only=" + (o.mall_only ? "1" : "0") +
           "\nsort=" + (o.by_sales ? "sales" : "overall") +
           "\nworkers=" + std::to_string(o.workers);
}

// The shops of a shop run, "shop=address" lines, for the store's record of the run.
std::string shop_parameters(const std::vector<std::string>& shops) {
    std::string lines;
    for (const std::string& shop : shops)
        lines += (lines.empty() ? "shop=" : "\nshop=") + shop;
    return lines;
}

// The shop run lists each shop's entries from the first row of 列表框_页面 again; the store numbers
// them on across the shops, as the window's run over all of them at once does.
class NumberedOnSink final : public AnswerSink {
public:
    NumberedOnSink(AnswerSink& sink, const std::atomic<long long>& earlier)
        : sink_(sink), earlier_(earlier) {}
    void page(const HarvestedPage& page) override {
        HarvestedPage numbered = page;
        for (HarvestedItem& item : numbered.items)
            item.serial += static_cast<int>(earlier_.load());
        sink_.page(numbered);
    }
    void url_claimed(int row) override { sink_.url_claimed(row); }
    void url_done(int row) override { sink_.url_done(row); }

private:
    AnswerSink& sink_;
    const std::atomic<long long>& earlier_;
};

// A review worker's row counts as done when the worker takes its next row (it says so in the
// URL label) or ends without being stopped.
thread_local bool t_review_row_open = false;

void next_review_row(Progress& progress) {
    if (t_review_row_open) progress.unit_done();
    t_review_row_open = true;
}

void review_worker_ended(Progress& progress) {
    if (t_review_row_open && !current_run_stopped()) progress.unit_done();
    t_review_row_open = false;
}

// A unit that hands nothing over: the search lists its items and ends.
void skip_unit(HarvestContext& ctx, int, const Text&, std::atomic<bool>& handing_over) {
    handing_over.store(false);
    ctx.values.RunningUnits.fetch_sub(1);
}

}  // namespace

int run_search(const SearchOptions& options, const RunPlace& place) {
    if (!ready_to_run(place, true)) return kExitBadInput;
    if (!options.buyers_out.empty() && !output_place_ok(options.buyers_out)) return kExitBadInput;
    MessageLog messages;
    CliWindow window;
    ProgramValues values;
    window.set_text(controls::kKeyword, utf8_to_gbk(options.keyword));
    window.set_text(controls::kPages, to_text(options.pages));
    window.set_text(controls::kLow, utf8_to_gbk(options.low));
    window.set_text(controls::kHigh, utf8_to_gbk(options.high));
    window.set_text(controls::kThreads, to_text(options.workers));
    window.set_text(controls::kCredit, "0");
    window.set_checked(controls::kMallOnly, options.mall_only);
    window.set_selection(controls::kMode, 0);
    window.set_text(controls::kHarvestButton, captions().collect);
    if (options.by_sales) values.SortParameter = "&sort=sale-desc";
    values.ReportsFolder = reports_folder(place.out);

    // The window's own click: input checks and the search parameters.
    bool started = false;
    HarvestWorkerControl control;
    control.start = [&started](HarvestMode) { return started = true; };
    harvest_button_click(window, values, control);
    if (!started) return kExitBadInput;
    std::unique_ptr<StoreSink> sink;
    if (!place.store.empty()) {
        sink = StoreSink::begin(place.store, RunKind::item_search, search_parameters(options),
                                {place.keep_answers});
        if (!sink) return kExitBadInput;
    }

    Progress progress(place.progress, place.terminal);
    CliWindow::Observer observer;
    observer.pane = [&progress, &options](int pane, const Text& text) {
        if (pane != kPagePane) return;
        const long long slash = text_find(text, "/");
        if (slash < 1) return;  // the first answer's page count alone
        const long long total =
            to_int(text_right(text, static_cast<long long>(text.size()) - slash));
        progress.set_total_pages(total < options.pages ? total : options.pages);
        progress.page();
    };
    observer.rows_added = [&progress](std::string_view list, int rows) {
        if (list == kItemList) progress.set_rows(rows);
    };
    follow_title(observer, progress);
    MarketTrouble trouble;
    trouble.follow_login_page(observer, progress);
    window.set_observer(std::move(observer));

    const bool want_buyers = !options.buyers_out.empty();
    const bool was_interrupted = run_on_threads(
        1,
        [&](int) {
            RealSleeper sleeper;
            HarvestContext ctx{window, values, place.hosts, sleeper, sink.get()};
            if (want_buyers)
                item_search_harvest(ctx);
            else
                item_search_harvest(ctx, skip_unit);
        },
        give_up_on(trouble, values));
    trouble.note(values.WatchEnding.load());
    if (sink) sink->end(!was_interrupted && !trouble.happened());
    const bool login_needed = window.text(controls::kStatusLabel) == captions().login_needed;
    if (login_needed) {
        progress.blocked();
        progress.finish();
        // A changed first page was reported as such already.
        if (!trouble.happened())
            report("the search answered without a page count: the marketplace wants a sign-in");
        return kExitBlocked;
    }
    progress.finish();
    bool wrote = write_output(place.out, item_addresses(window));
    if (want_buyers) wrote = write_output(options.buyers_out, collected_buyer_ids(window)) && wrote;
    return end_code(was_interrupted, wrote, messages, &trouble);
}

int run_shop(const std::vector<std::string>& shops, const RunPlace& place) {
    if (!ready_to_run(place, true)) return kExitBadInput;
    MessageLog messages;
    CliWindow window;
    ProgramValues values;
    values.ThreadCount = 1;
    window.set_selection(controls::kMode, 1);
    std::unique_ptr<StoreSink> sink;
    if (!place.store.empty()) {
        sink = StoreSink::begin(place.store, RunKind::shop_items, shop_parameters(shops),
                                {place.keep_answers});
        if (!sink) return kExitBadInput;
    }

    Progress progress(place.progress, place.terminal);
    progress.set_units({"shop", "shops"}, static_cast<long long>(shops.size()), true);
    std::atomic<long long> earlier_entries{0};
    CliWindow::Observer observer;
    observer.pane = [&progress, &earlier_entries](int pane, const Text& text) {
        if (pane == kEntryPane) progress.set_rows(earlier_entries.load() + to_int(text));
    };
    window.set_observer(std::move(observer));

    // One shop at a time, so the progress can count them and an interrupt keeps the item
    // addresses of the shops already read; the list comes out as the window's run of all of
    // them at once makes it, whose entries are handed over in the same order.
    const bool was_interrupted = run_on_threads(1, [&](int) {
        RealSleeper sleeper;
        std::optional<NumberedOnSink> numbered;
        if (sink) numbered.emplace(*sink, earlier_entries);
        HarvestContext ctx{window, values, place.hosts, sleeper, numbered ? &*numbered : nullptr};
        for (const std::string& shop : shops) {
            window.clear_items(kShopList);
            window.add_item(kShopList, utf8_to_gbk(shop));
            window.clear_items(controls::kPageBox);
            shop_item_harvest(ctx);
            if (current_run_stopped()) return;
            earlier_entries += window.item_count(controls::kPageBox);
            progress.unit_done();
        }
    });
    if (sink) sink->end(!was_interrupted);
    progress.finish();
    const bool wrote = write_output(place.out, column_cells(window, kUrlList, 0));
    return end_code(was_interrupted, wrote, messages);
}

int run_reviews(const std::string& url_file, int workers, const RunPlace& place) {
    const std::optional<std::string> urls = read_list_input(url_file, "URL file");
    if (!urls || !ready_to_run(place, true)) return kExitBadInput;
    MessageLog messages;
    CliWindow window;
    ProgramValues values;
    std::vector<std::vector<Text>> rows;
    std::vector<Text> addresses;
    for_each_list_line(*urls, [&](std::string_view line) {
        rows.push_back({Text(line)});
        addresses.emplace_back(line);
    });
    window.append_rows(kUrlList, std::move(rows));
    values.ReportsFolder = reports_folder(place.out);
    std::unique_ptr<StoreSink> sink;
    if (!place.store.empty()) {
        sink = StoreSink::begin(place.store, RunKind::reviews, "", {place.keep_answers});
        if (!sink) return kExitBadInput;
        sink->put_urls(addresses);
    }
    addresses = {};

    Progress progress(place.progress, place.terminal);
    progress.set_units({}, window.row_count(kUrlList), false);
    CliWindow::Observer observer;
    observer.text = [&progress](std::string_view control, const Text&) {
        if (control == controls::kReviewPageLabel) progress.page();
        if (control == controls::kReviewUrlLabel) next_review_row(progress);
    };
    observer.rows_added = [&progress](std::string_view list, int count) {
        if (list == controls::kBuyerList) progress.set_rows(count);
    };
    follow_title(observer, progress);
    MarketTrouble trouble;
    trouble.follow_login_page(observer, progress);
    window.set_observer(std::move(observer));

    values.ReviewRunFlag.store(1);
    const bool was_interrupted = run_on_threads(
        workers,
        [&](int) {
            RealSleeper sleeper;
            HarvestContext ctx{window, values, place.hosts, sleeper, sink.get()};
            review_worker(ctx);
            review_worker_ended(progress);
        },
        give_up_on(trouble, values));
    trouble.note(values.WatchEnding.load());
    // Finished when every row was taken by a worker that was not stopped.
    if (sink)
        sink->end(!was_interrupted && !trouble.happened() &&
                  values.ReviewCursor.load() >= window.row_count(kUrlList));
    progress.finish();
    // What came before the trouble is kept, as after an interrupt.
    const bool wrote = write_output(place.out, buyer_ids(window));
    return end_code(was_interrupted, wrote, messages, &trouble);
}

int run_members(const std::string& name_file, int workers, const RunPlace& place) {
    const std::optional<std::string> names = read_list_input(name_file, "name file");
    if (!names || !ready_to_run(place, true)) return kExitBadInput;
    MessageLog messages;
    CliWindow window;
    std::vector<std::vector<Text>> rows;
    for_each_name_line(*names, [&rows](int number, const Text& name) {
        rows.push_back({to_text(number), name, Text()});
    });
    const int count = static_cast<int>(rows.size());
    window.append_rows(kNameList, std::move(rows));

    Progress progress(place.progress, place.terminal);
    progress.set_total_pages(count);
    // Each row is looked up by one worker; a row counts once its ID (maybe empty) is written.
    std::atomic<int> next{0};
    std::atomic<long long> finished{0};
    auto done = std::make_unique<std::atomic<bool>[]>(static_cast<size_t>(count));
    const bool was_interrupted = run_on_threads(workers, [&](int) {
        for (int row = next.fetch_add(1); row < count; row = next.fetch_add(1)) {
            if (current_run_stopped()) return;
            const Text id = lookup_member_id(place.hosts, window.cell(kNameList, row, kNameColumn));
            if (current_run_stopped()) return;  // an aborted lookup is no answer
            window.set_cell(kNameList, row, kIdColumn, id);
            done[static_cast<size_t>(row)].store(true);
            progress.set_rows(finished.fetch_add(1) + 1);
            progress.page();
        }
    });
    progress.finish();
    std::vector<Text> ids;
    for (int row = 0; row < count; ++row)
        if (done[static_cast<size_t>(row)].load())
            ids.push_back(window.cell(kNameList, row, kIdColumn));
    const bool wrote = write_output(place.out, ids);
    return end_code(was_interrupted, wrote, messages);
}
