#include "harvest/shop_harvest.h"

#include <string>
#include <vector>

#include "harvest/address_normalise.h"
#include "harvest/controls.h"
#include "harvest/cut_between.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/regex.h"
#include "runtime/stop.h"
#include "web/web_request.h"

namespace {

constexpr std::string_view kShopList = controls::kShopBox;
constexpr std::string_view kPageList = controls::kPageBox;
constexpr std::string_view kUrlList = controls::kUrlList;
constexpr int kCountPane = 5;

// Written as the pages write them: P1 and I1 end their lines with CR, P2 spans three lines.
ShopPatterns kind_a_patterns() {
    ShopPatterns p;
    p.page_count = utf8_to_gbk(
        R"re(<span class="page-info">1/([0-9]*?)</span>\s*<a\s*class="disable"\s*>上一页</a>\s*<a\s*href="(.*?)2"\s*>下一页</a>)re"
        "\r");
    p.items = utf8_to_gbk(
        R"re(<a\s*class="item-name"\s*href="(.*?)"\s*target="_blank">(.*?)</a>\s*<div\s*class="attribute">\s*<div\s*class="cprice-area"><span class="symbol">&yen;</span><span class="c-price">(.*?)</span></div>(\s*<div\s*class="sprice-area"><span class="symbol">&yen;</span><span\s*class="s-price">(.*?)</span></div>)?)re"
        "\r"
        R"re(\s*<div\s*class="sale-area">已售：<span class="sale-num">(.*?)</span>件</div>)re"
        "\r");
    return p;
}

ShopPatterns kind_b_patterns() {
    ShopPatterns p;
    p.page_count =
        utf8_to_gbk(R"re(<b class="ui-page-s-len">1/(\d+)</b>)re"
                    "\r\n" +
                    std::string(28, ' ') +
                    R"re(<b title="上一页" class="ui-page-s-prev">&lt;</b>)re"
                    "\r\n" +
                    std::string(40, ' ') + R"re(<a title="下一页" class="ui-page-s-next")re");
    p.items = R"re(href="(\S*?)" target="_blank">\s*<img alt=")re";
    return p;
}

// Adds group 1 of every match, in order, with the entry count in pane 5. False once stopped.
bool add_links(Window& window, const std::vector<SearchResult>& results, std::string_view page) {
    for (const SearchResult& result : results) {
        if (current_run_stopped()) return false;
        window.add_item(kPageList, search_result_text(result, page, 1));
        window.set_pane(kCountPane, to_text(window.item_count(kPageList)));
    }
    return true;
}

// Hands a listing page's entries to the sink before any of them is shown, each numbered with the
// row (from 1) it will have in 列表框_页面.
void record_entries(HarvestContext& ctx, const Text& address, long long page,
                    const std::vector<SearchResult>& results, const Text& body) {
    if (ctx.sink == nullptr || results.empty()) return;
    HarvestedPage record{kShopService, address, static_cast<int>(page), body, {}, {}, {}};
    int serial = ctx.window.item_count(kPageList);
    for (const SearchResult& result : results)
        record.items.push_back({++serial, search_result_text(result, body, 1), {}, {}});
    ctx.sink->page(record);
}

// Reads one shop's listing; false once the run was stopped.
bool harvest_shop(HarvestContext& ctx, regex& re, const Text& shop) {
    const Text base = shop_base_address(shop);
    const ShopKind kind = shop_kind(base, ctx.hosts);
    const ShopPatterns& patterns = shop_patterns(kind);
    const Text listing = base + Text(shop_listing_path(kind));

    const Text first = to_text(WebRequest(listing + "1"));
    if (current_run_stopped()) return false;
    regex_create(re, patterns.page_count);
    std::vector<SearchResult> results = regex_search_all(re, first);
    if (results.empty()) {
        regex_create(re, patterns.items);
        results = regex_search_all(re, first);
        record_entries(ctx, listing + "1", 1, results, first);
        return add_links(ctx.window, results, first);
    }
    const long long total = to_int(search_result_text(results.front(), first, 1));
    for (long long page = 1; page <= total; ++page) {
        if (current_run_stopped()) return false;
        const Text address = listing + to_text(page);
        const Text body = to_text(WebRequest(address));
        regex_create(re, patterns.items);
        results = regex_search_all(re, body);
        record_entries(ctx, address, page, results, body);
        if (!add_links(ctx.window, results, body)) return false;
    }
    return true;
}

// Admits the entries one at a time while fewer units run than the thread count allows.
bool hand_over(HarvestContext& ctx, const ShopEntryUnit& unit) {
    Window& window = ctx.window;
    // A thread count below 1 would never admit an entry and wait for ever.
    const int limit = ctx.values.ThreadCount < 1 ? 1 : ctx.values.ThreadCount;
    auto& running = ctx.values.RunningUnits;
    const int entries = window.item_count(kPageList);
    for (int i = 0; i < entries; ++i) {
        while (running.load() >= limit) {
            if (current_run_stopped()) return false;
            ctx.sleeper.wait(1000);
        }
        if (current_run_stopped()) return false;
        running.fetch_add(1);
        unit(ctx, window.item(kPageList, i));
    }
    return true;
}

}  // namespace

const ShopPatterns& shop_patterns(ShopKind kind) {
    static const ShopPatterns a = kind_a_patterns();
    static const ShopPatterns b = kind_b_patterns();
    return kind == ShopKind::A ? a : b;
}

std::string_view shop_listing_path(ShopKind kind) {
    return kind == ShopKind::A ? "search.htm?search=y&pageNo="
                               : "search.htm?scene=taobao_shop&pageNo=";
}

Text shop_base_address(std::string_view shop) {
    const Text host = cut_between(shop, "http://", "/");
    if (host.empty()) return Text(shop) + "/";
    return "http://" + host + "/";
}

ShopKind shop_kind(std::string_view base, const HostSettings& hosts) {
    return text_find(base, hosts.shop_domain_suffix) != -1 ? ShopKind::A : ShopKind::B;
}

void shop_entry_unit(HarvestContext& ctx, const Text& entry) {
    const Text address = normalise_address(entry);
    if (!address.empty()) ctx.window.append_row(kUrlList, address);
    ctx.values.RunningUnits.fetch_sub(1);
}

void shop_item_harvest(HarvestContext& ctx, const ShopEntryUnit& unit) {
    regex re;
    const int shops = ctx.window.item_count(kShopList);
    for (int i = 0; i < shops; ++i) {
        if (current_run_stopped()) return;
        if (!harvest_shop(ctx, re, ctx.window.item(kShopList, i))) return;
    }
    hand_over(ctx, unit);
}
