// Times an item harvest of 100 result pages x 44 items against the loopback marketplace (reached
// as an HTTP proxy): wall seconds, and the harvest thread's own CPU time per page. The same pages
// fetched alone give the thread CPU the fetches cost, so the difference is what the harvest spends
// outside the network (matching, decoding, rows, review addresses).
// Usage: bench_item_harvest [pages] [runs]
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "harvest/item_search_harvest.h"
#include "harvest/search_address.h"
#include "runtime/convert.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"
#include "web/web_request.h"

namespace {

double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double wall_ms() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct Figures {
    double wall_ms = 0;
    double cpu_ms = 0;
};

Figures harvest_once(const HostSettings& hosts, int pages, size_t* rows) {
    MemoryWindow window;
    ProgramValues values;
    values.SearchKeyword = "shoes";
    values.FilterParameter = "&tab=all";
    values.PageLimit = pages;
    values.ThreadCount = 1;
    ScaledSleeper sleeper(1000);
    HarvestContext ctx{window, values, hosts, sleeper};
    const double wall = wall_ms();
    const double cpu = thread_cpu_ms();
    // The hand-over's review fetches are timed by the review benchmark; here each unit ends at
    // once.
    item_search_harvest(ctx, [](HarvestContext& c, int, const Text&, std::atomic<bool>& flag) {
        flag = false;
        c.values.RunningUnits.fetch_sub(1);
    });
    Figures f{wall_ms() - wall, thread_cpu_ms() - cpu};
    *rows = window.rows("超级列表框2").size();
    return f;
}

Figures fetch_only(const HostSettings& hosts, int pages, size_t* bytes) {
    const Text base = search_base_address(hosts.search_host, "shoes", "", "&tab=all");
    const double wall = wall_ms();
    const double cpu = thread_cpu_ms();
    *bytes = to_text(WebRequest(base)).size();
    for (int page = 1; page <= pages; ++page)
        *bytes += to_text(WebRequest(search_page_address(base, page))).size();
    return {wall_ms() - wall, thread_cpu_ms() - cpu};
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    Marketplace market;
    if (!market.ok()) {
        std::fprintf(stderr, "loopback marketplace could not start\n");
        return 1;
    }
    ProxyEnvironment proxy(market);
    MarketSearch search;
    search.total_pages = pages;
    search.items_per_page = 44;
    market.set_search(search);
    const HostSettings hosts = Marketplace::hosts();

    std::vector<double> wall, cpu, fetch_wall, fetch_cpu;
    size_t rows = 0, bytes = 0;
    for (int run = 0; run < runs; ++run) {
        const Figures h = harvest_once(hosts, pages, &rows);
        wall.push_back(h.wall_ms);
        cpu.push_back(h.cpu_ms);
        const Figures f = fetch_only(hosts, pages, &bytes);
        fetch_wall.push_back(f.wall_ms);
        fetch_cpu.push_back(f.cpu_ms);
    }

    const double per_page = 1.0 / pages;
    std::printf("item harvest: %d pages x 44 items, %zu rows, %.1f KB per page, median of %d\n",
                pages, rows, bytes / 1024.0 / (pages + 1), runs);
    std::printf("  harvest      %.3f s wall, %.3f ms thread CPU per page\n", median(wall) / 1e3,
                median(cpu) * per_page);
    std::printf("  fetch alone  %.3f s wall, %.3f ms thread CPU per page\n",
                median(fetch_wall) / 1e3, median(fetch_cpu) * per_page);
    std::printf("  outside the network: %.3f ms thread CPU per page\n",
                (median(cpu) - median(fetch_cpu)) * per_page);
    return rows == static_cast<size_t>(pages) * 44 ? 0 : 1;
}
