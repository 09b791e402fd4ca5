#include "app/page3_run.h"

#include <atomic>
#include <memory>
#include <stop_token>
#include <vector>

#include "app/app_state.h"
#include "harvest/controls.h"
#include "harvest/member_lookup.h"
#include "harvest/window.h"
#include "runtime/stop.h"

namespace {

constexpr std::string_view kNameList = controls::kNameList;
constexpr int kNameColumn = 1;
constexpr int kIdColumn = 2;

class RowClaims {
public:
    explicit RowClaims(int rows) : claimed_(static_cast<size_t>(rows > 0 ? rows : 0)) {}
    // True for the first caller of a row.
    bool claim(int row) {
        if (row < 0 || static_cast<size_t>(row) >= claimed_.size()) return false;
        return !claimed_[static_cast<size_t>(row)].exchange(true);
    }

private:
    std::vector<std::atomic<bool>> claimed_;
};

// Raised without the caller's stop token: once claimed, the row's report must arrive even if its
// task is abandoned before the window gets to it, or the run could never end.
void report_row(AppState& state, int row) {
    const std::stop_token own = current_stop_token();
    set_current_stop_token({});
    if (state.raise_feedback) state.raise_feedback(kFeedbackRowDone, row);
    set_current_stop_token(own);
}

}  // namespace

Page3Task member_id_task() {
    return [](Window& window, AppState& state, int row) {
        const Text name = window.cell(kNameList, row, kNameColumn);
        const Text id = lookup_member_id(state.hosts, name);
        window.set_cell(kNameList, row, kIdColumn, id);
    };
}

void install_page3_run(AppState& state) {
    if (state.hooks.page3_task) return;
    state.hooks.page3_task = member_id_task();
    state.hooks.page3_time_limit_ms = kPage3TimeLimitMs;
}

Page3Reporting report_each_row_once(Window& window, AppState& state, Page3Task task, int rows) {
    auto claims = std::make_shared<RowClaims>(rows);
    Page3Reporting reporting;
    reporting.task = [&window, &state, task = std::move(task), claims](int row) {
        if (task) task(window, state, row);
        // An abandoned task leaves its row to the overrun routine, which empties column 2 first.
        if (current_run_stopped()) return;
        if (claims->claim(row)) report_row(state, row);
    };
    reporting.on_overrun = [&window, &state, claims](int row) {
        if (!claims->claim(row)) return;  // it reported just before the limit
        // The abandoned task's own writes are dropped from now on; one that got through goes.
        window.set_cell(kNameList, row, kIdColumn, Text());
        report_row(state, row);
    };
    return reporting;
}
