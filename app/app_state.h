#pragma once
// Everything program-wide that the window's operations share: the harvest values, the host
// settings, the output file and the run machinery.
#include <filesystem>
#include <functional>
#include <memory>

#include "app/feedback.h"
#include "app/file_dialog.h"
#include "app/thread_pool.h"
#include "app/workers.h"
#include "harvest/program_values.h"
#include "web/host_settings.h"

class Window;
class ResultsRecorder;

// Where the harvest code plugs in. Empty entries leave their buttons without work to start.
struct HarvestHooks {
    // The whole click of 按钮_采集 (input checks, search parameters, captions, then
    // start_harvest_worker / stop_harvest_worker). Empty: a plain start/stop toggle.
    std::function<void(Window& window, AppState& state)> harvest_click;
    HarvestEntry item_harvest;     // keyword search, 组合框1 = 0
    HarvestEntry shop_harvest;     // shop items, 组合框1 != 0
    ReviewHarvest review_harvest;  // one per review worker, 按钮3_批量获取
    Page3Task page3_task;          // one per row of 超级列表框, 按钮5
    int page3_time_limit_ms = 60000;
};

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
    HarvestHooks hooks;
    std::shared_ptr<ResultsRecorder> results;  // the results store's writer; none keeps no rows
};
