#include "app/results_restore.h"

#include <QCoreApplication>
#include <algorithm>
#include <ctime>
#include <set>

#include "app/app_state.h"
#include "harvest/controls.h"
#include "harvest/window.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "store/results_recorder.h"

namespace {

constexpr std::string_view kItemList = controls::kItemList;
constexpr std::string_view kHandoverBuyers = controls::kCollectedBuyers;
constexpr int kYesNo = 4;
constexpr int kYes = 5;
constexpr size_t kBatchRows = 8192;

void append_in_batches(Window& window, std::string_view list,
                       std::vector<std::vector<Text>>& rows) {
    for (size_t first = 0; first < rows.size(); first += kBatchRows) {
        const auto end =
            rows.begin() + static_cast<long>(std::min(rows.size(), first + kBatchRows));
        window.append_rows(list, {rows.begin() + static_cast<long>(first), end});
        QCoreApplication::processEvents();  // a long list repaints as it grows
    }
}

std::string started_at(const RunInfo& run) {
    const std::time_t seconds = static_cast<std::time_t>(run.started_ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

bool ask(const RunInfo& run, const std::string& what, const StoredRows& rows) {
    const std::string text = "上次" + what + "（开始于 " + started_at(run) +
                             "）没有正常结束，结果库中保存了 " + std::to_string(rows.items.size()) +
                             " 个宝贝、" + std::to_string(rows.buyers.size()) +
                             " 个买家ID。\n要把它们放回列表吗？选择“否”时结果仍保存在结果库中。";
    return message_box(utf8_to_gbk(text), kYesNo) == kYes;
}

std::vector<std::vector<Text>> buyer_rows(const StoredRows& rows) {
    std::vector<std::vector<Text>> out;
    out.reserve(rows.buyers.size());
    for (const BuyerRow& b : rows.buyers)
        out.push_back({to_text(static_cast<long long>(b.serial)), b.buyer_id});
    return out;
}

void restore_item_search(Window& window, const StoredRows& rows) {
    std::vector<std::vector<Text>> items;
    items.reserve(rows.items.size());
    for (const ItemRow& i : rows.items)
        items.push_back(
            {to_text(static_cast<long long>(i.serial)), i.address, i.item_id, i.shop_id});
    window.clear_rows(kItemList);
    append_in_batches(window, kItemList, items);
    auto buyers = buyer_rows(rows);
    window.clear_rows(kHandoverBuyers);
    append_in_batches(window, kHandoverBuyers, buyers);
}

// The harvest never clears 列表框_页面, so the entries go after what it holds.
void restore_shop_items(Window& window, const StoredRows& rows) {
    std::vector<std::vector<Text>> entries;
    entries.reserve(rows.items.size());
    for (const ItemRow& i : rows.items)
        entries.push_back({i.address});
    append_in_batches(window, controls::kPageBox, entries);
}

void restore_reviews(Window& window, AppState& state, ResultsStore& store, const RunInfo& run,
                     const StoredRows& rows) {
    const std::vector<StoredUrl> urls = store.urls(run.id);
    std::vector<std::vector<Text>> list;
    list.reserve(urls.size());
    for (const StoredUrl& url : urls)
        list.push_back({url.address});
    window.clear_rows(controls::kUrlList);
    append_in_batches(window, controls::kUrlList, list);
    auto buyers = buyer_rows(rows);
    window.clear_rows(controls::kBuyerList);
    append_in_batches(window, controls::kBuyerList, buyers);
    window.set_text(controls::kBuyerCountLabel, to_text(window.row_count(controls::kBuyerList)));

    state.values.ReviewCursor.store(url_cursor(urls));
    const std::int64_t last = rows.buyers.empty() ? 0 : rows.buyers.back().serial;
    state.values.BuyerCounter.store(static_cast<int>(last));
    state.results->resume_reviews(run.id, static_cast<int>(urls.size()));
}

}  // namespace

void offer_restore(Window& window, AppState& state) {
    if (!state.results || state.results->store() == nullptr) return;
    ResultsStore& store = *state.results->store();
    std::set<RunKind> offered;
    for (const RunInfo& run : store.unfinished_runs()) {  // newest first
        if (!offered.insert(run.kind).second) {
            store.end_run(run.id, RunEnding::set_aside);
            continue;
        }
        const StoredRows rows = store.rows(run.id);
        const char* what = run.kind == RunKind::reviews      ? "的买家ID采集"
                           : run.kind == RunKind::shop_items ? "的店铺宝贝采集"
                                                             : "的宝贝采集";
        if (!ask(run, what, rows)) {
            store.end_run(run.id, RunEnding::set_aside);
            continue;
        }
        switch (run.kind) {
            case RunKind::reviews:
                // Stays open: the review workers go on with it.
                restore_reviews(window, state, store, run, rows);
                continue;
            case RunKind::shop_items:
                restore_shop_items(window, rows);
                break;
            case RunKind::item_search:
                restore_item_search(window, rows);
                break;
        }
        store.end_run(run.id, RunEnding::restored);
    }
}
