#include "harvest/harvest_button.h"

#include <string_view>

#include "harvest/controls.h"
#include "harvest/search_address.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/services.h"

namespace {

using namespace controls;

struct Captions {
    Text collect = utf8_to_gbk("采集");
    Text stop = utf8_to_gbk("停止");
    Text no_keyword = utf8_to_gbk("关键字没有填写!");
    Text bad_price = utf8_to_gbk("价格区间填写错误!");
};

const Captions& captions() {
    static const Captions texts;
    return texts;
}

void start_harvest(Window& window, ProgramValues& values, const HarvestWorkerControl& workers) {
    random_seed();
    window.set_enabled(kThreads, false);
    window.set_enabled(kKeyword, false);
    window.set_enabled(kCredit, false);
    values.RunningUnits.store(0);
    values.PageLimit = to_int(window.text(kPages));
    for (std::string_view control : {kSales, kOverall, kLow, kHigh})
        window.set_enabled(control, false);
    values.FilterParameter =
        price_filter(window.text(kLow), window.text(kHigh), window.checked(kMallOnly));
    values.StopFlag.store(0);
    values.ThreadCount = to_int(window.text(kThreads));
    values.SearchKeyword = window.text(kKeyword);
    const HarvestMode mode =
        window.selection(kMode) == 0 ? HarvestMode::item_search : HarvestMode::shop_items;
    if (workers.start) workers.start(mode);
    window.set_text(kHarvestButton, captions().stop);
}

void stop_harvest(Window& window, ProgramValues& values, const HarvestWorkerControl& workers) {
    window.set_text(kHarvestButton, captions().collect);
    window.set_enabled(kThreads, true);
    values.StopFlag.store(1);
    for (std::string_view control : {kKeyword, kSales, kOverall, kLow, kHigh, kCredit})
        window.set_enabled(control, true);
    if (workers.stop) workers.stop();
}

}  // namespace

void harvest_button_click(Window& window, ProgramValues& values,
                          const HarvestWorkerControl& workers) {
    if (window.text(kKeyword).empty() && window.selection(kMode) == 0) {
        message_box(captions().no_keyword);
        return;
    }
    // Decimal prices here; the filter itself is decided on the integer value of the upper box.
    const double upper = to_number(window.text(kHigh));
    const double lower = to_number(window.text(kLow));
    if (upper - lower < -0.0000001) {
        message_box(captions().bad_price);
        return;
    }
    if (window.text(kHarvestButton) == captions().collect)
        start_harvest(window, values, workers);
    else
        stop_harvest(window, values, workers);
}
