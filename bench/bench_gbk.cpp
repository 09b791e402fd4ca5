// Times the GBK codec: the first conversion in the process (it sets the tables up), then the four
// conversions over a page-sized text (about 1 MB: markup with Chinese runs, as the marketplace
// pages are) and over Chinese only. Prints megabytes per second of input, best of several rounds.
//
//   bench_gbk [rounds]     (default 20)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "runtime/gbk.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Every ideograph of the unified block that GBK holds, as UTF-8, `times` over.
std::string ideographs_utf8(int times) {
    std::string out;
    for (int t = 0; t < times; ++t)
        for (char32_t cp = 0x4E00; cp <= 0x9FA5; ++cp) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    return out;
}

// Markup with a short Chinese run in every element, about `bytes` of UTF-8.
std::string page_utf8(const std::string& chinese, std::size_t bytes) {
    std::string out;
    std::size_t at = 0;
    while (out.size() < bytes) {
        out += "<li class=\"item\" data-id=\"";
        out += std::to_string(out.size());
        out += "\"><a href=\"//item.taobao.com/item.htm?id=5200\">";
        out += chinese.substr(at, 8 * 3);
        out += "</a><span class=\"price\">129.00</span></li>\n";
        at = (at + 8 * 3) % (chinese.size() - 8 * 3);
    }
    return out;
}

template <class In>
void report(const char* what, const In& input, int rounds, const std::function<void()>& run) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        run();
        best = std::min(best, seconds_since(start));
    }
    const double mb = static_cast<double>(input.size() * sizeof(input[0])) / 1e6;
    std::printf("  %-34s %8.1f MB/s  (%.2f ms for %.2f MB)\n", what, mb / best, best * 1e3, mb);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    const auto first = Clock::now();
    const Text one = utf8_to_gbk("中");
    std::printf("first conversion (table set-up): %.3f ms\n", seconds_since(first) * 1e3);
    if (one != "\xD6\xD0") return 1;

    const std::string chinese = ideographs_utf8(16);
    const std::string page = page_utf8(ideographs_utf8(1), 1 << 20);
    const Text page_gbk = utf8_to_gbk(page);
    const Text chinese_gbk = utf8_to_gbk(chinese);
    const std::u16string page_utf16 = gbk_to_utf16(page_gbk);
    const std::u16string chinese_utf16 = gbk_to_utf16(chinese_gbk);
    std::size_t sink = 0;

    std::printf("page (markup with Chinese runs):\n");
    report("gbk_to_utf8", page_gbk, rounds, [&] { sink += gbk_to_utf8(page_gbk).size(); });
    report("utf8_to_gbk", page, rounds, [&] { sink += utf8_to_gbk(page).size(); });
    report("gbk_to_utf16", page_gbk, rounds, [&] { sink += gbk_to_utf16(page_gbk).size(); });
    report("utf16_to_gbk", page_utf16, rounds, [&] { sink += utf16_to_gbk(page_utf16).size(); });
    std::printf("Chinese only:\n");
    report("gbk_to_utf8", chinese_gbk, rounds, [&] { sink += gbk_to_utf8(chinese_gbk).size(); });
    report("utf8_to_gbk", chinese, rounds, [&] { sink += utf8_to_gbk(chinese).size(); });
    report("gbk_to_utf16", chinese_gbk, rounds, [&] { sink += gbk_to_utf16(chinese_gbk).size(); });
    report("utf16_to_gbk", chinese_utf16, rounds,
           [&] { sink += utf16_to_gbk(chinese_utf16).size(); });
    // Round trips must agree, or the figures above measured the wrong thing.
    if (gbk_to_utf8(page_gbk) != page || utf16_to_gbk(chinese_utf16) != chinese_gbk) {
        std::fprintf(stderr, "round trip differs\n");
        return 1;
    }
    std::printf("(%zu bytes produced)\n", sink);
    return 0;
}
