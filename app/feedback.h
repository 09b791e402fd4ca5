#pragma once
// The feedback event of 标签15: a report (code, row) raised on any thread and handled on the window
// thread.
#include <functional>

class QObject;

inline constexpr int kFeedbackRowDone = 111;

using FeedbackRaiser = std::function<void(int code, int row)>;

// A raiser callable from any thread; it hands (code, row) to handler on target's thread and returns
// at once. A report raised by a stopped run, or whose run is stopped before the handler gets to it,
// is dropped; so is one whose target is gone.
FeedbackRaiser make_feedback_raiser(QObject* target,
                                    std::function<void(int code, int row)> handler);
