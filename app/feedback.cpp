#include "app/feedback.h"

#include <algorithm>

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <memory>
#include <stop_token>

#include "app/app_state.h"
#include "app/page3_run.h"
#include "app/startup.h"
#include "harvest/controls.h"
#include "harvest/window.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "runtime/services.h"
#include "runtime/stop.h"

namespace {

constexpr std::string_view kNameList = controls::kNameList;
constexpr std::string_view kProgressLabel = controls::kProgressLabel;
constexpr std::string_view kWorkerCountEdit = controls::kWorkerCount;
constexpr int kIdColumn = 2;
// More pool threads than this only queue on the same two cores and the same server.
constexpr int kMaxPage3Workers = 256;

Text progress_caption(int done, int total) {
    return to_text(done) + "/" + to_text(total);
}

}  // namespace

FeedbackRaiser make_feedback_raiser(QObject* target,
                                    std::function<void(int code, int row)> handler) {
    auto shared_handler = std::make_shared<std::function<void(int, int)>>(std::move(handler));
    QPointer<QObject> guarded(target);
    return [guarded, shared_handler](int code, int row) {
        std::stop_token token = current_stop_token();
        if (token.stop_requested()) return;
        QObject* receiver = guarded.data();
        if (!receiver) return;
        QMetaObject::invokeMethod(
            receiver,
            [shared_handler, token, code, row] {
                if (token.stop_requested()) return;  // abandoned after it reported
                (*shared_handler)(code, row);
            },
            Qt::QueuedConnection);
    };
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

bool start_page3_run(Window& window, AppState& state, Page3Task task, int time_limit_ms) {
    if (!task || state.pool.IsCreated()) return false;
    const int rows = window.row_count(kNameList);
    if (rows <= 0) return false;  // nothing would ever report, and the pool would never end
    if (state.OutputFile == 0)
        state.OutputFile = file_open(state.OutputPath, 6, 1);  // keeps what earlier runs wrote
    state.PoolDoneCount = 0;
    state.PoolRowCount = rows;
    state.OutputWriteFailed = false;
    const int workers = std::min(to_int(window.text(kWorkerCountEdit)), kMaxPage3Workers);
    // Every row reports once, an overrunning one too, so the run always ends.
    Page3Reporting reporting = report_each_row_once(window, state, std::move(task), rows);
    const bool created = state.pool.Create(workers, std::move(reporting.task), time_limit_ms,
                                           std::move(reporting.on_overrun));
    if (!created) return false;
    window.set_text(kProgressLabel, progress_caption(0, rows));
    for (int row = 0; row < rows; ++row)
        state.pool.Post(row);
    return true;
}
