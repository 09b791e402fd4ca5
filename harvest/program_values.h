#pragma once
// The program-wide harvest values. The window thread writes the parameters before a worker starts;
// workers read them. Counters that several workers advance are atomic.
#include <atomic>
#include <filesystem>

#include "harvest/answer_kind.h"
#include "harvest/row_order.h"
#include "runtime/stop.h"
#include "runtime/text.h"

struct ProgramValues {
    Text SortParameter;    // "&sort=sale-desc" or empty
    Text SearchKeyword;    // as typed
    Text FilterParameter;  // price filter + "&tab=mall" / "&tab=all"
    int PageLimit = 0;
    int ThreadCount = 1;
    std::atomic<int> RunningUnits{0};
    StopSignal StopFlag;  // the item/shop harvest run's stop signal as a flag
    std::atomic<int> ReviewRunFlag{0};
    std::atomic<int> ReviewCursor{0};
    std::atomic<int> BuyerCounter{0};
    // Where answers of a shape the program does not know are saved: "reports" next to the output
    // file. Empty: "reports" in the data folder.
    std::filesystem::path ReportsFolder;
    RowOrder BuyerListOrder;  // buyer numbers taken and rows added in the same turn
    // Set when the answer watch ended the run: Unrecognised for a lasting unknown answer, else
    // the kind the address kept answering. Marked while it has not. A front end without message
    // boxes (the command line) tells its caller from this.
    std::atomic<AnswerKind> WatchEnding{AnswerKind::Marked};
};
