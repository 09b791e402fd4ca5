#pragma once
// The page-3 run: one pool task per row of 超级列表框. A task fills column 2 of its row; the row
// then comes back to the window thread as the feedback event (111, row) of 标签15, whose handler
// counts it, shows "done/total", appends the row's column 2 to OutputFile and ends the run after
// the last. A failed write is shown once per run; the rows stay in the list.
#include <functional>

class QObject;
class Window;
struct AppState;

inline constexpr int kFeedbackRowDone = 111;

using FeedbackRaiser = std::function<void(int code, int row)>;

// A raiser callable from any thread; it hands (code, row) to handler on target's thread and returns
// at once. A report raised by a stopped run, or whose run is stopped before the handler gets to it,
// is dropped; so is one whose target is gone.
FeedbackRaiser make_feedback_raiser(QObject* target,
                                    std::function<void(int code, int row)> handler);

// The handler, on the window thread. Codes other than 111 are ignored.
void handle_feedback(Window& window, AppState& state, int code, int row);

// One row's work: fills column 2 ("ID") of its row of 超级列表框.
using Page3Task = std::function<void(Window& window, AppState& state, int row)>;

// The click of 按钮5: a pool of 编辑框2 workers with one posted row index per row; every row raises
// (111, row) through state.raise_feedback exactly once, a row whose task overran time_limit_ms
// with its column 2 emptied (the task is abandoned), so every run ends. Refused (false)
// while a run is going, for an empty list and without a task. OutputFile is reopened for appending
// when an earlier run closed it, so a second run's IDs are kept too.
bool start_page3_run(Window& window, AppState& state, Page3Task task, int time_limit_ms = 60000);
