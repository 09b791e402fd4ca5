#include "app/member_id_run.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <stop_token>
#include <vector>

#include "app/app_state.h"
#include "app/feedback.h"
#include "harvest/controls.h"
#include "harvest/member_lookup.h"
#include "harvest/window.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"

namespace {

using namespace controls;

constexpr int kNameColumn = 1;
constexpr int kIdColumn = 2;
// More pool threads than this only queue on the same two cores and the same server.
constexpr int kMaxWorkers = 256;

Text progress_caption(int done, int total) {
    return to_text(done) + "/" + to_text(total);
}

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
    const StopScope unstoppable{std::stop_token()};
    if (state.raise_feedback) state.raise_feedback(kFeedbackRowDone, row);
}

}  // namespace

MemberIdTask member_id_task() {
    return [](Window& window, AppState& state, int row) {
        const Text name = window.cell(kNameList, row, kNameColumn);
        const Text id = lookup_member_id(state.hosts, name);
        window.set_cell(kNameList, row, kIdColumn, id);
    };
}

RowReporting report_each_row_once(Window& window, AppState& state, MemberIdTask task, int rows) {
    auto claims = std::make_shared<RowClaims>(rows);
    RowReporting reporting;
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

void handle_feedback(Window& window, AppState& state, int code, int row) {
    if (code != kFeedbackRowDone) return;
    ++state.PoolDoneCount;
    // The total is the run's own: an import during the run must neither end it early nor keep it
    // open for good.
    const int total = state.PoolRowCount > 0 ? state.PoolRowCount : window.row_count(kNameList);
    window.set_text(kProgressLabel, progress_caption(state.PoolDoneCount, total));
    if (state.OutputFile != 0) {
        // One write per line, so a line is never split by another writer of the file.
        const Text line = window.cell(kNameList, row, kIdColumn) + "\r\n";
        file_seek_end(state.OutputFile);
        // A full disk must not drop IDs unnoticed: they stay in the list, and the user hears of
        // it once per run rather than once per row.
        if (!file_write_raw(state.OutputFile, line) && !state.OutputWriteFailed) {
            state.OutputWriteFailed = true;
            static const Text failed =
                utf8_to_gbk("写入淘宝买家.txt失败（磁盘已满或不可写），本次结果仍保留在列表中");
            message_box(failed);
        }
    }
    if (state.PoolDoneCount >= total) {
        state.PoolDoneCount = 0;
        state.PoolRowCount = 0;
        // The file is closed before the pool's wait, in which the window handles events: a run
        // started meanwhile reopens it instead of having it closed under its feet afterwards.
        if (state.OutputFile != 0) file_close(state.OutputFile);
        state.OutputFile = 0;
        state.pool.Destroy();
    }
}

bool start_member_id_run(Window& window, AppState& state, MemberIdTask task, int time_limit_ms) {
    if (!task || state.pool.IsCreated()) return false;
    const int rows = window.row_count(kNameList);
    if (rows <= 0) return false;  // nothing would ever report, and the pool would never end
    if (state.OutputFile == 0)
        state.OutputFile = file_open(state.OutputPath, 6, 1);  // keeps what earlier runs wrote
    state.PoolDoneCount = 0;
    state.PoolRowCount = rows;
    state.OutputWriteFailed = false;
    const int workers = std::min(to_int(window.text(kWorkerCount)), kMaxWorkers);
    // Every row reports once, an overrunning one too, so the run always ends.
    RowReporting reporting = report_each_row_once(window, state, std::move(task), rows);
    const bool created = state.pool.Create(workers, std::move(reporting.task), time_limit_ms,
                                           std::move(reporting.on_overrun));
    if (!created) return false;
    window.set_text(kProgressLabel, progress_caption(0, rows));
    for (int row = 0; row < rows; ++row)
        state.pool.Post(row);
    return true;
}
