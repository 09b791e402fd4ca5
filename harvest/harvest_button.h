#pragma once
// The click of the harvest button 按钮_采集. The button both starts and stops a harvest; its
// caption is the run state ("采集" idle, "停止" running). Every click first checks the keyword
// and the price range, so a click is refused while either is wrong, a Stop click included.
#include <functional>

#include "harvest/program_values.h"
#include "harvest/window.h"

enum class HarvestMode {
    item_search,  // 组合框1 on "关键字"
    shop_items,   // any other selection of 组合框1
};

// How the click reaches the worker thread; the window layer supplies both.
struct HarvestWorkerControl {
    // Starts one worker running the harvest of that mode; false when no thread could be started
    // (the button still shows "停止" and the next click only restores the idle state).
    std::function<bool(HarvestMode mode)> start;
    // Ends the running worker at once without waiting for it: its pending request is abandoned
    // and nothing of it reaches the window after the call.
    std::function<void()> stop;
};

// Runs on the window's thread.
void harvest_button_click(Window& window, ProgramValues& values,
                          const HarvestWorkerControl& workers);
