#pragma once
// The member-ID run of 按钮5: one pool task per row of 超级列表框 looks the row's Wangwang name
// (column 1) up to the member's numeric ID and writes it (empty when not found) into column 2. The
// row then comes back to the window thread as the feedback event (111, row) of 标签15, whose
// handler counts it, shows "done/total", appends the row's column 2 to OutputFile and ends the run
// after the last.
//
// Every row reports exactly once, a row whose task overran the time limit included: the pool
// abandons that task and the row is reported with column 2 empty, so a run always ends through the
// feedback handler and the output file gets one line per row.
#include <functional>

#include "app/thread_pool.h"

class Window;
struct AppState;

// How long one row's lookup may take before the pool abandons it.
inline constexpr int kMemberIdTimeLimitMs = 30000;

// One row's work: fills column 2 ("ID") of its row of 超级列表框.
using MemberIdTask = std::function<void(Window& window, AppState& state, int row)>;

// The member lookup as the task of one row; it asks the hosts of the state it is given.
MemberIdTask member_id_task();

// The click of 按钮5: a pool of 编辑框2 workers with one posted row index per row; every row raises
// (111, row) through state.raise_feedback exactly once, a row whose task overran time_limit_ms
// with its column 2 emptied (the task is abandoned), so every run ends. Refused (false) while a run
// is going, for an empty list and without a task. OutputFile is reopened for appending when an
// earlier run closed it, so a second run's IDs are kept too.
bool start_member_id_run(Window& window, AppState& state, MemberIdTask task, int time_limit_ms);

// The feedback handler, on the window thread. Codes other than 111 are ignored.
void handle_feedback(Window& window, AppState& state, int code, int row);

// The pool routines of one run over `rows` rows. The first report of a row wins, whether it comes
// from its finished task or from the pool after abandoning it (an abandoned task leaves its row to
// the pool); a claimed report is delivered even when the task is abandoned in between, so no row
// is lost and none counts twice.
struct RowReporting {
    ThreadPool::Task task;        // runs the row's task, then reports the row
    ThreadPool::Task on_overrun;  // the row's task was abandoned: column 2 emptied, row reported
};
RowReporting report_each_row_once(Window& window, AppState& state, MemberIdTask task, int rows);
