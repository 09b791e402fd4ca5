#include "harvest/controls.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

using namespace controls;

// Labels and buttons are announced by their names here too: several captions ("开始", "-", an
// empty status label) say nothing on their own.
constexpr ControlName kControls[] = {
    {kTabs, "页面"},
    {kBrowser, "淘宝登陆"},
    {kStatusBar, "状态条"},
    {kKeywordLabel, "关键字"},
    {kKeyword, "关键字"},
    {kOverall, "综合排序"},
    {kSales, "按销量排序"},
    {kPriceLabel, "价格区间"},
    {kLow, "最低价格"},
    {kPriceDash, "至"},
    {kHigh, "最高价格"},
    {kPagesLabel, "采集页数"},
    {kPages, "采集页数"},
    {kItemList, "宝贝列表"},
    {kMallOnly, "只采集天猫"},
    {kStatusLabel, "采集状态"},
    {kHarvestButton, "采集"},
    {kExportUrlsButton, "导出URL"},
    {kAddUrlsButton, "URL处理"},
    {kExportCollectedButton, "导出买家"},
    {kBuyerCountCaption, "获取数量"},
    {kBuyerCountLabel, "获取到的买家数量"},
    {kImportUrlsButton, "导入URL"},
    {kExportBuyersButton, "导出买家ID"},
    {kClearUrlsButton, "清空URL"},
    {kBuyerList, "买家ID列表"},
    {kUrlList, "商品地址列表"},
    {kFetchingCaption, "正在获取"},
    {kReviewPageLabel, "当前页数"},
    {kPageContentCaption, "页内容"},
    {kReviewButton, "开始获取买家ID"},
    {kReviewUrlLabel, "当前商品地址"},
    {kReviewTotalLabel, "评论数量"},
    {kTotalCaption, "总数量"},
    {kNameList, "旺旺用户名列表"},
    {kImportNamesButton, "导入旺旺"},
    {kProgressLabel, "进度"},
    {kMemberIdButton, "开始获取数字ID"},
    {kWorkerCount, "线程数"},
    {kThreads, "采集线程数"},
    {kCreditCaption, "过滤信用"},
    {kCredit, "过滤信用"},
    {kCreditTail, "以下的买家"},
    {kMode, "采集方式"},
    {kPageBox, "页面地址"},
    {kShopBox, "店铺地址"},
    {kCollectedBuyers, "买家旺旺列表"},
};

void default_unknown_control([[maybe_unused]] std::string_view name) {
#ifndef NDEBUG
    std::fprintf(stderr, "unknown control name: %.*s\n", static_cast<int>(name.size()),
                 name.data());
    std::abort();
#endif
}

std::atomic<UnknownControlHandler> unknown_handler{&default_unknown_control};

}  // namespace

std::span<const ControlName> all_controls() {
    return kControls;
}

const ControlName* find_control(std::string_view name) {
    const auto found = std::find_if(std::begin(kControls), std::end(kControls),
                                    [name](const ControlName& c) { return c.name == name; });
    return found == std::end(kControls) ? nullptr : &*found;
}

void unknown_control(std::string_view name) {
    unknown_handler.load()(name);
}

UnknownControlHandler set_unknown_control_handler(UnknownControlHandler handler) {
    return unknown_handler.exchange(handler ? handler : &default_unknown_control);
}
