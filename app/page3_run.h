#pragma once
// The work of the page-3 run and the way its rows report. Each task looks the Wangwang name of its
// row (column 1 of 超级列表框) up to the member's numeric ID and writes that (empty when not
// found) into column 2. Every row reports exactly once, a row whose task overran its time limit
// included: the pool abandons that task and the row is reported with column 2 empty, so a run
// always ends through the feedback handler and the output file gets one line per row.
#include "app/feedback.h"
#include "app/thread_pool.h"

inline constexpr int kPage3TimeLimitMs = 30000;

// The member lookup as the task of one row; it asks the hosts of the state it is given.
Page3Task member_id_task();

// Makes the member lookup the page-3 task, with its 30 s limit, unless a task is plugged in
// already.
void install_page3_run(AppState& state);

// The pool routines of one run over `rows` rows. The first report of a row wins, whether it comes
// from its finished task or from the pool after abandoning it (an abandoned task leaves its row to
// the pool); a claimed report is delivered even when the task is abandoned in between, so no row
// is lost and none counts twice.
struct Page3Reporting {
    ThreadPool::Task task;        // runs the row's task, then reports the row
    ThreadPool::Task on_overrun;  // the row's task was abandoned: column 2 emptied, row reported
};
Page3Reporting report_each_row_once(Window& window, AppState& state, Page3Task task, int rows);
