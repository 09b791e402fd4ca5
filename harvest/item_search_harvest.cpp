#include "harvest/item_search_harvest.h"

#include <optional>
#include <vector>

#include "harvest/answer_watch.h"
#include "harvest/controls.h"
#include "harvest/cut_between.h"
#include "harvest/review_handover.h"
#include "harvest/search_address.h"
#include "harvest/unescape_text.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/script_regex.h"
#include "runtime/stop.h"
#include "web/cookie_store.h"

namespace {

constexpr std::string_view kItemList = controls::kItemList;
constexpr std::string_view kBuyerList = controls::kCollectedBuyers;
constexpr std::string_view kLabel = controls::kStatusLabel;
constexpr std::string_view kMallOnly = controls::kMallOnly;
constexpr int kCountPane = 5;
constexpr int kPagePane = 7;

constexpr std::string_view kItemStart = R"("nid":")";
constexpr std::string_view kPageCount = "\"totalPage\":";

struct Messages {
    Text login_needed = utf8_to_gbk("需要登陆！");
    Text to_harvest = utf8_to_gbk("需要采集的共计：");
    Text finished = utf8_to_gbk("采集完毕，共计：");
};

const Messages& messages() {
    static const Messages texts;
    return texts;
}

// The run's parameters, read once when the worker begins.
struct SearchRun {
    Text base;
    int page_limit = 0;
    int thread_count = 1;
};

bool stopped(const HarvestContext& ctx) {
    return ctx.values.StopFlag.load() != 0 || current_run_stopped();
}

// Hands the page's rows to the sink, numbered as harvest_pages will show them.
void record_page(AnswerSink& sink, ScriptRegex& matcher, const Text& address, int page,
                 const Text& body, int shown) {
    HarvestedPage record{kSearchService, address, page, body, {}, {}, {}};
    const int matches = matcher.match_count();
    for (int m = 1; m <= matches; ++m)
        record.items.push_back({shown + m, unescape_text(matcher.submatch_text(m, 2)),
                                matcher.submatch_text(m, 1), matcher.submatch_text(m, 3)});
    sink.page(record);
}

bool login_cookie_present(const HostSettings& hosts) {
    const std::string cookies = cookie_header_for("https://" + hosts.search_host + "/");
    const std::string name = hosts.login_cookie + "=";
    return cookies.starts_with(name) || cookies.find("; " + name) != std::string::npos;
}

// A page without a page count that is neither a refusal nor a search that found nothing, while
// the user is signed in: the search page has changed.
bool changed_search_page(const HostSettings& hosts, const Answer& answer) {
    static const Text nothing_found = utf8_to_gbk("没有找到");
    return classify_answer(answer, kPageCount) == AnswerKind::Unrecognised &&
           text_find(answer.body, "noresult") == -1 &&
           text_find(answer.body, nothing_found) == -1 && login_cookie_present(hosts);
}

// A match that runs into the next item would pair this item with the next one's shop: the
// answer's key order has changed.
bool runs_into_next_item(const ScriptRegex& matcher, int matches) {
    for (int m = 1; m <= matches; ++m)
        if (matcher.match_text(m).find(kItemStart, 1) != std::string::npos) return true;
    return false;
}

// Steps through the result pages; false when the run was stopped or ended on the way.
bool harvest_pages(HarvestContext& ctx, AnswerWatch& watch, ScriptRegex& matcher,
                   const SearchRun& run, const Text& total_text) {
    Window& window = ctx.window;
    const long long total = to_int(total_text);
    for (long long page = 1; page <= total && page <= run.page_limit; ++page) {
        if (current_run_stopped()) return false;
        window.set_pane(kPagePane, to_text(page) + "/" + total_text);
        const Text address = search_page_address(run.base, static_cast<int>(page));
        const Answer answer = web_answer(address);
        const Text& body = answer.body;
        matcher.execute(kItemPattern, body);
        const int matches = matcher.match_count();
        if (runs_into_next_item(matcher, matches)) {
            watch.report_format_change(service_of(answer.url), kItemPattern, answer);
            return false;
        }
        if (changed_search_page(ctx.hosts, answer)) {
            watch.report_format_change(service_of(answer.url), kPageCount, answer);
            return false;
        }
        if (ctx.sink != nullptr && matches > 0)
            record_page(*ctx.sink, matcher, address, static_cast<int>(page), body,
                        window.row_count(kItemList));
        for (int m = 1; m <= matches; ++m) {
            const int count = window.row_count(kItemList);
            // The whole row in one operation, so a stop never leaves a half-filled row.
            window.append_rows(kItemList,
                               {{to_text(count + 1), unescape_text(matcher.submatch_text(m, 2)),
                                 matcher.submatch_text(m, 1), matcher.submatch_text(m, 3)}});
            window.set_pane(kCountPane, to_text(count + 1));
            if (stopped(ctx)) return false;
        }
    }
    return true;
}

std::vector<Text> review_addresses(HarvestContext& ctx) {
    Window& window = ctx.window;
    // The box counts as it stands now, not as it stood at start.
    const bool mall_only = window.checked(kMallOnly);
    std::vector<Text> addresses;
    const int rows = window.row_count(kItemList);
    for (int row = 0; row < rows; ++row) {
        Text address = review_address(ctx.hosts, window.cell(kItemList, row, 1),
                                      window.cell(kItemList, row, 2),
                                      window.cell(kItemList, row, 3), mall_only);
        if (!address.empty()) addresses.push_back(std::move(address));
    }
    return addresses;
}

// Hands the addresses over one at a time; false when the run was stopped or ended on the way.
bool hand_over(HarvestContext& ctx, AnswerWatch& watch, const std::vector<Text>& addresses,
               int thread_count, const ReviewAddressUnit& unit) {
    // A thread count below 1 would never admit a unit and wait for ever.
    const int limit = thread_count < 1 ? 1 : thread_count;
    const Text of = " / " + to_text(static_cast<long long>(addresses.size()));
    auto& running = ctx.values.RunningUnits;
    // Made before the units, so it outlives them: they clear it on their way out.
    std::atomic<bool> handing_over{false};
    std::optional<ReviewHandover> units;
    ReviewAddressUnit admit = unit;
    if (!admit) {
        units.emplace(ctx, watch);
        admit = [&units](HarvestContext&, int index, const Text& address, std::atomic<bool>& flag) {
            units->admit(index, address, flag);
        };
    }
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (watch.over()) return false;
        ctx.window.set_text(kLabel, "No." + to_text(static_cast<long long>(i + 1)) + of);
        handing_over.store(true);
        while (handing_over.load()) {
            if (watch.over()) return false;
            if (running.load() < limit) {
                running.fetch_add(1);
                admit(ctx, static_cast<int>(i), addresses[i], handing_over);
            } else {
                ctx.sleeper.wait(10);
            }
        }
        while (running.load() > 0) {
            if (watch.over()) return false;
            ctx.sleeper.wait(100);
        }
    }
    return !watch.over();
}

}  // namespace

Text review_address(const HostSettings& hosts, std::string_view item_address,
                    std::string_view item_id, std::string_view shop_id, bool mall_only) {
    const bool mall = text_find(item_address, hosts.mall_item_detail_host) != -1;
    Text address;
    if (mall) {
        address = "http://" + hosts.mall_review_host + "/list_detail_rate.htm?itemId=";
        address += item_id;
        address += "&spuId={spuId}&sellerId=";
        address += shop_id;
        address += "&order=1&currentPage=";
    } else if (!mall_only) {
        address = "http://" + hosts.marketplace_review_host +
                  "/feedRateList.htm?_ksTS=1426738791296_2556&callback=jsonp_reviews_list"
                  "&userNumId=";
        address += shop_id;
        address += "&auctionNumId=";
        address += item_id;
        address += "&siteID=7&currentPageNum=";
    }
    return address;
}

void item_search_harvest(HarvestContext& ctx, const ReviewAddressUnit& unit) {
    Window& window = ctx.window;
    const Messages& text = messages();
    ScriptRegex matcher;
    AnswerWatch watch(ctx);

    SearchRun run;
    run.base = search_base_address(ctx.hosts.search_host, ctx.values.SearchKeyword,
                                   ctx.values.SortParameter, ctx.values.FilterParameter);
    run.page_limit = ctx.values.PageLimit;
    run.thread_count = ctx.values.ThreadCount;

    const Answer first = web_answer(run.base);
    const Text total_text = cut_between(first.body, "\"totalPage\":", ",");
    window.set_pane(kPagePane, total_text);
    if (total_text.empty()) {
        window.set_text(kLabel, text.login_needed);
        // A search is not asked again: a changed page is reported at once.
        if (changed_search_page(ctx.hosts, first))
            watch.report_format_change(service_of(first.url), kPageCount, first);
        return;
    }
    window.clear_rows(kItemList);
    if (!harvest_pages(ctx, watch, matcher, run, total_text)) return;

    window.set_pane(kCountPane, to_text(window.row_count(kBuyerList)));
    const std::vector<Text> addresses = review_addresses(ctx);
    if (current_run_stopped()) return;
    window.set_text(kLabel, text.to_harvest + to_text(static_cast<long long>(addresses.size())));
    window.clear_rows(kBuyerList);
    if (!hand_over(ctx, watch, addresses, run.thread_count, unit)) return;
    window.set_text(kLabel, text.finished + to_text(window.row_count(kBuyerList)));
}
