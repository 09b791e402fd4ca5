// Times the item harvest's matching: the item pattern through ScriptRegex over a search result
// page of 44 items, over a 2 MB page on which "user_id" is missing (so nothing matches), and the
// decoding of every item address. Pass --with-backtracking to also time the Boost fallback on the
// broken page (minutes: it is the reason the item pattern runs on RE2).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "harvest/unescape_text.h"
#include "runtime/gbk.h"
#include "runtime/script_regex.h"

namespace {

const std::string kItemPattern =
    R"re("nid":"(\d+)",.*?"detail_url":"(.*?)",.*?"user_id":"(\d+)")re";

// One long line of JSON as the search pages embed it, about 4.5 KB per item.
std::string search_page(int count, bool with_user_id) {
    std::string page =
        "g_page_config = "
        "{\"pageName\":\"mainsrp\",\"mods\":{\"itemlist\":{\"data\":{\"auctions\":[";
    const std::string title = utf8_to_gbk("夏季<span class=H>连衣裙</span>女 2024新款 修身显瘦");
    const std::string place = utf8_to_gbk("浙江 杭州");
    const std::string sales = utf8_to_gbk("1234人付款");
    const std::string nick = utf8_to_gbk("某某旗舰店");
    for (int i = 0; i < count; ++i) {
        const std::string nid = std::to_string(520000000000LL + i * 7919);
        const std::string uid = std::to_string(1700000000 + i * 31);
        page += i ? ",{" : "{";
        page +=
            "\"i2iTags\":{\"samestyle\":{\"url\":\"\"},\"similar\":{\"url\":\"\\/search?type="
            "similar\\u0026app\\u003di2i\\u0026nid\\u003d" +
            nid + "\"}},\"p4pTags\":[],";
        page += "\"nid\":\"" + nid + "\",\"category\":\"50010850\",\"pid\":\"\",";
        page += "\"title\":\"" + title + "\",\"raw_title\":\"" + title + "\",";
        page += "\"pic_url\":\"\\/\\/g-search1.alicdn.com\\/img\\/bao\\/uploaded\\/i4\\/" + nid +
                "\\/O1CN01abcdefgh_!!0-item_pic.jpg\",";
        page += "\"detail_url\":\"\\/\\/item.taobao.com\\/item.htm?id\\u003d" + nid +
                "\\u0026ns\\u003d1\\u0026abbucket\\u003d" + std::to_string(i % 20) + "\",";
        page += "\"view_price\":\"129.00\",\"view_fee\":\"0.00\",\"item_loc\":\"" + place +
                "\",\"view_sales\":\"" + sales + "\",\"comment_count\":\"56\",";
        if (with_user_id) page += "\"user_id\":\"" + uid + "\",";
        page += "\"nick\":\"" + nick +
                "\",\"shopcard\":{\"levelClasses\":[{\"levelClass\":"
                "\"icon-supple-level-jinguan\"}],\"isTmall\":false,\"delivery\":[482,1,1845],"
                "\"description\":[483,1,1956],\"service\":[483,1,2026],\"encryptedUserId\":"
                "\"UvFcbMGx0OmcW\",\"sellerCredit\":16,\"totalRate\":10000},";
        page += "\"icon\":[";
        for (int k = 0; k < 16; ++k)
            page += std::string(k ? "," : "") +
                    "{\"title\":\"icon\",\"dom_class\":\"icon-service-fuwu\",\"position\":\"1\","
                    "\"show_type\":\"0\",\"icon_category\":\"baobei\",\"outer_text\":\"0\","
                    "\"html\":\"\",\"icon_key\":\"icon-service-fuwu\",\"trace\":\"srpservice\","
                    "\"traceIdx\":" +
                    std::to_string(k) + ",\"innerText\":\"\",\"url\":\"\"}";
        page += "],\"comment_url\":\"\\/\\/item.taobao.com\\/item.htm?id\\u003d" + nid +
                "\\u0026on_comment\\u003d1\",\"shopLink\":\"\\/\\/store.taobao.com\\/shop\\/view_"
                "shop.htm?user_number_id\\u003d" +
                uid + "\",\"risk\":\"\"}";
    }
    page += "]}}}};\n";
    return page;
}

// Mean, median and best microseconds per call over `rounds` calls.
struct Timing {
    double mean_us, median_us, best_us;
};

Timing time_it(int rounds, const std::function<void()>& work) {
    std::vector<double> all;
    double total = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const double us =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count();
        total += us;
        all.push_back(us);
    }
    std::sort(all.begin(), all.end());
    return {total / rounds, all[all.size() / 2], all.front()};
}

}  // namespace

int main(int argc, char** argv) {
    const bool with_backtracking = argc > 1 && std::strcmp(argv[1], "--with-backtracking") == 0;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show up even when a slow run is cut off

    const std::string page = search_page(44, true);
    std::string broken;
    while (broken.size() < 2 * 1024 * 1024)
        broken += search_page(44, false);

    // The harvest's loop: execute, then read groups 1..3 of every match.
    std::vector<std::string> addresses;
    ScriptRegex re;
    int matches = 0;
    const Timing normal = time_it(200, [&] {
        re.execute(kItemPattern, page);
        matches = re.match_count();
        addresses.clear();
        for (int m = 1; m <= matches; ++m) {
            std::string nid = re.submatch_text(m, 1);
            addresses.push_back(re.submatch_text(m, 2));
            std::string uid = re.submatch_text(m, 3);
            if (nid.empty() || uid.empty()) std::printf("empty group in match %d\n", m);
        }
    });
    std::printf("normal page: %zu bytes, %d matches: %.0f us mean, %.0f median, %.0f best\n",
                page.size(), matches, normal.mean_us, normal.median_us, normal.best_us);

    int broken_matches = -1;
    const Timing broken_time = time_it(10, [&] {
        ScriptRegex fresh;  // a fresh object each time: compile included
        fresh.execute(kItemPattern, broken);
        broken_matches = fresh.match_count();
    });
    std::printf("broken page: %zu bytes, %d matches: %.0f us mean, %.0f median, %.0f best\n",
                broken.size(), broken_matches, broken_time.mean_us, broken_time.median_us,
                broken_time.best_us);

    // The parts of one run: the GBK to UTF-8 conversion, and matching through each route.
    const auto item = script_pattern_compile(kItemPattern, ScriptRegexOptions{});
    const auto page_text = std::make_shared<const Text>(page);
    const auto broken_text = std::make_shared<const Text>(broken);
    for (const auto& [name, text] : {std::pair{"normal", page_text}, {"broken", broken_text}}) {
        std::vector<GbkUtf8Anchor> anchors;
        const Timing convert = time_it(20, [&] { gbk_to_utf8(*text, &anchors); });
        bool fast = false;
        const Timing first = time_it(20, [&] {
            fast = script_pattern_match(*item, text, ScriptMatchRoute::fast_first).fast;
        });
        const Timing linear =
            time_it(20, [&] { script_pattern_match(*item, text, ScriptMatchRoute::linear_only); });
        std::printf(
            "%s page medians: conversion %.0f us, fast route %.0f us (%s), RE2 alone %.0f us\n",
            name, convert.median_us, first.median_us, fast ? "fast path" : "fell back to RE2",
            linear.median_us);
    }

    std::size_t decoded_bytes = 0;
    const int rounds = 2000;
    const Timing decode = time_it(rounds, [&] {
        for (const std::string& address : addresses)
            decoded_bytes += unescape_text(address).size();
    });
    std::printf("unescape_text: %zu addresses, %.3f us mean per address (e.g. %s)\n",
                addresses.size(),
                decode.mean_us / static_cast<double>(std::max<std::size_t>(1, addresses.size())),
                addresses.empty() ? "-" : unescape_text(addresses[0]).c_str());

    if (with_backtracking) {
        const auto pattern = script_pattern_compile(kItemPattern, ScriptRegexOptions{},
                                                    ScriptRegexEngine::backtracking);
        const auto subject = std::make_shared<const Text>(broken);
        std::size_t found = 0;
        const Timing boost_time =
            time_it(1, [&] { found = script_pattern_match(*pattern, subject).count(); });
        std::printf("backtracking engine on the broken page: %zu matches, %.0f us\n", found,
                    boost_time.mean_us);
    }
    return 0;
}
