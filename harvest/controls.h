#pragma once
// The window's controls by name: every part of the program (the layout, the harvests, the window
// code, the test window) takes its names from here, so a name exists once. Each control also has
// the name a screen reader announces for it.
#include <span>
#include <string_view>

namespace controls {

// The tab control, the login browser on page 0 and the status bar.
inline constexpr std::string_view kTabs = "选择夹1";
inline constexpr std::string_view kBrowser = "超文本浏览框1";
inline constexpr std::string_view kStatusBar = "状态条1";

// Page 1: item harvest.
inline constexpr std::string_view kKeywordLabel = "标签1";
inline constexpr std::string_view kKeyword = "编辑框_关键字";
inline constexpr std::string_view kOverall = "单选框1";
inline constexpr std::string_view kSales = "单选框2";
inline constexpr std::string_view kPriceLabel = "标签6";
inline constexpr std::string_view kLow = "编辑框_低";
inline constexpr std::string_view kPriceDash = "标签5";
inline constexpr std::string_view kHigh = "编辑框_高";
inline constexpr std::string_view kPagesLabel = "标签9";
inline constexpr std::string_view kPages = "编辑框1";
inline constexpr std::string_view kItemList = "超级列表框2";
inline constexpr std::string_view kMallOnly = "选择框1";
inline constexpr std::string_view kStatusLabel = "标签8";
inline constexpr std::string_view kHarvestButton = "按钮_采集";
inline constexpr std::string_view kExportUrlsButton = "按钮2";
inline constexpr std::string_view kAddUrlsButton = "按钮3";
inline constexpr std::string_view kExportCollectedButton = "按钮4";

// Page 2: buyer IDs.
inline constexpr std::string_view kBuyerCountCaption = "标签12";
inline constexpr std::string_view kBuyerCountLabel = "标签5_获取到的数量";
inline constexpr std::string_view kImportUrlsButton = "按钮2_导入";
inline constexpr std::string_view kExportBuyersButton = "按钮5_导出";
inline constexpr std::string_view kClearUrlsButton = "按钮7";
inline constexpr std::string_view kBuyerList = "超级列表框1_user";
inline constexpr std::string_view kUrlList = "超级列表框2_URL";
inline constexpr std::string_view kFetchingCaption = "标签11";
inline constexpr std::string_view kReviewPageLabel = "标签_页数";
inline constexpr std::string_view kPageContentCaption = "标签10";
inline constexpr std::string_view kReviewButton = "按钮3_批量获取";
inline constexpr std::string_view kReviewUrlLabel = "标签7_url";
inline constexpr std::string_view kReviewTotalLabel = "标签3_评论数量";
inline constexpr std::string_view kTotalCaption = "标签13";

// Page 3: buyer Wangwang names.
inline constexpr std::string_view kNameList = "超级列表框";
inline constexpr std::string_view kImportNamesButton = "按钮6";
inline constexpr std::string_view kProgressLabel = "标签15";
inline constexpr std::string_view kMemberIdButton = "按钮5";
inline constexpr std::string_view kWorkerCount = "编辑框2";

// Settings the user never sees; the program reads them like any other control.
inline constexpr std::string_view kThreads = "编辑框_线程";
inline constexpr std::string_view kCreditCaption = "标签3";
inline constexpr std::string_view kCredit = "编辑框_过滤信用";
inline constexpr std::string_view kCreditTail = "标签4";
inline constexpr std::string_view kMode = "组合框1";
inline constexpr std::string_view kPageBox = "列表框_页面";
inline constexpr std::string_view kShopBox = "列表框_店铺";
inline constexpr std::string_view kCollectedBuyers = "超级列表框1";

}  // namespace controls

struct ControlName {
    std::string_view name;        // the window's own name, also the widget's object name
    std::string_view accessible;  // what a screen reader announces
};

// Every control of the window.
std::span<const ControlName> all_controls();
// The entry of a name; nullptr when no control has it.
const ControlName* find_control(std::string_view name);

// An operation named a control the window does not have: a typo that would make a feature quietly
// do nothing. Debug builds stop the program at once; release builds ignore the operation.
void unknown_control(std::string_view name);
// Replaces that reaction (tests turn it into a test failure); returns the previous one.
using UnknownControlHandler = void (*)(std::string_view name);
UnknownControlHandler set_unknown_control_handler(UnknownControlHandler handler);
