#pragma once
// The shop item harvest: reads the item listing of every shop in 列表框_店铺 page by page and adds
// the link of every item found to 列表框_页面. Shops under the marketplace's own shop domain (kind
// A) and all others (kind B) each have their own listing path and their own two patterns.
#include <functional>
#include <string_view>

#include "harvest/harvest_context.h"
#include "runtime/text.h"

enum class ShopKind { A, B };

// The listing markup of one kind, GBK, used byte for byte (the CR, CR LF and space runs are part
// of them). Group 1 of page_count is the number of pages, group 1 of items an item link.
struct ShopPatterns {
    Text page_count;
    Text items;
};
const ShopPatterns& shop_patterns(ShopKind kind);

// "search.htm?search=y&pageNo=" (A) or "search.htm?scene=taobao_shop&pageNo=" (B).
std::string_view shop_listing_path(ShopKind kind);

// "http://" + host + "/" for an address that starts with "http://" and has a "/" after its host,
// so any path is dropped; otherwise the address as it is with "/" appended.
Text shop_base_address(std::string_view shop);

// A when the base address holds the marketplace's shop domain suffix.
ShopKind shop_kind(std::string_view base, const HostSettings& hosts);

// One admitted entry of the hand-over, run with RunningUnits already raised for it: the entry,
// given "http:" when it has no scheme ("//item..."), goes to the end of the URL list
// 超级列表框2_URL for the buyer harvest, and the unit lowers RunningUnits at once. An empty entry
// names no item and adds no row.
void shop_entry_unit(HarvestContext& ctx, const Text& entry);

using ShopEntryUnit = std::function<void(HarvestContext& ctx, const Text& entry)>;

// The worker of the harvest button in shop mode, on a thread of its own with its run's stop
// token installed. It never clears 列表框_页面, so entries accumulate over runs. The entries of
// each listing page go to the context's sink, if any, before they are shown. Each entry is handed
// to `unit` once admitted.
void shop_item_harvest(HarvestContext& ctx, const ShopEntryUnit& unit = shop_entry_unit);
