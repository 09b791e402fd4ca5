#pragma once
// The item search harvest: asks the marketplace's search for the keyword, walks the result pages
// up to the page limit, lists every item found in 超级列表框2 (row number, item address, item ID,
// shop ID), then turns every listed item into a review-page address and hands those over one by
// one. Progress goes to status panes 5 and 7 and to the label 标签8.
#include <atomic>
#include <functional>
#include <string_view>

#include "harvest/harvest_context.h"
#include "runtime/text.h"

// The script pattern over a result page: group 1 the item ID, group 2 the item address with its
// JSON escapes, group 3 the seller's ID.
inline constexpr std::string_view kItemPattern =
    R"re("nid":"(\d+)",.*?"detail_url":"(.*?)",.*?"user_id":"(\d+)")re";

// The review-page address of one listed item, ending in the open page-number key: the mall form
// when the item address names the mall's item-detail host, else the marketplace form. Empty when
// the item is skipped (a marketplace item while only mall items are wanted).
Text review_address(const HostSettings& hosts, std::string_view item_address,
                    std::string_view item_id, std::string_view shop_id, bool mall_only);

// One admitted unit of the hand-over of review address `index` (from 0), run on the harvest thread
// with RunningUnits already raised for it. The frame keeps admitting units for the address while
// `handing_over` is set; a unit clears it and then lowers RunningUnits when its work is done.
using ReviewAddressUnit = std::function<void(HarvestContext& ctx, int index, const Text& address,
                                             std::atomic<bool>& handing_over)>;

// The worker of the harvest button in keyword mode, on a thread of its own with its run's stop
// token installed. It never restores the button or the inputs; the user's Stop click does. Each
// review address is handed to `unit` once admitted; without one, the units of ReviewHandover
// fetch the review pages and list the buyers in 超级列表框1.
void item_search_harvest(HarvestContext& ctx, const ReviewAddressUnit& unit = {});
