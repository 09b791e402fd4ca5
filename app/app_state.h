#pragma once
// Everything program-wide that the window's operations share: the harvest values, the host
// settings, the output file and the run machinery.
#include <filesystem>
#include <memory>

#include "app/feedback.h"
#include "app/file_dialog.h"
#include "app/thread_pool.h"
#include "app/workers.h"
#include "harvest/program_values.h"
#include "web/host_settings.h"

class ResultsRecorder;

struct AppState {
    ProgramValues values;
    HostSettings hosts;
    int OutputFile = 0;                // file number of "淘宝买家.txt", 0 when closed
    std::filesystem::path OutputPath;  // where a later page-3 run reopens it
    bool OutputWriteFailed = false;    // this page-3 run already told the user of a failed write
    int PoolDoneCount = 0;             // rows of the page-3 run reported so far
    int PoolRowCount = 0;              // rows posted by the page-3 run in progress
    WorkerHandleTable WorkerHandles;
    ThreadPool pool;
    FileDialog file_dialog;         // 通用对话框1
    FeedbackRaiser raise_feedback;  // 标签15's feedback event; set when the window is bound
    std::shared_ptr<ResultsRecorder> results;  // the results store's writer; none keeps no rows
};
