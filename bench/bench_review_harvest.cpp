// Review harvest against the loopback marketplace: 200 items of 5 review pages each (half mall,
// half marketplace), with 1 and with 4 workers sharing the URL list. Prints review pages per
// second.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "harvest/review_harvest.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"

namespace {

constexpr int kItems = 200;
constexpr int kPages = 5;
constexpr int kBuyersPerPage = 20;

struct Outcome {
    double seconds = 0;
    size_t requests = 0;
    int rows = 0;
};

Outcome run(Marketplace& market, const std::vector<std::string>& urls, int workers) {
    MemoryWindow window;
    ProgramValues values;
    const HostSettings hosts = Marketplace::hosts();
    ScaledSleeper sleeper(1000);
    HarvestContext ctx{window, values, hosts, sleeper};
    std::vector<std::vector<Text>> rows;
    for (const auto& u : urls)
        rows.push_back({u});
    window.append_rows(controls::kUrlList, rows);
    market.clear_urls();

    values.ReviewRunFlag = 1;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&ctx] { review_worker(ctx); });
    for (auto& t : threads)
        t.join();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count(), market.request_count(), window.row_count(controls::kBuyerList)};
}

}  // namespace

int main() {
    Marketplace market;
    if (!market.ok()) {
        std::fprintf(stderr, "cannot start the loopback marketplace\n");
        return 1;
    }
    ProxyEnvironment proxy(market);
    const std::vector<std::string> urls =
        add_review_items(market, kItems, kPages, kBuyersPerPage, [](int k, int p, int b) {
            return std::to_string(700000 + k) + "x" + std::to_string(p * kBuyersPerPage + b);
        });

    std::printf("review harvest: %d items x %d pages (%d buyers a page), loopback proxy\n", kItems,
                kPages, kBuyersPerPage);
    for (int workers : {1, 4}) {
        const Outcome o = run(market, urls, workers);
        const int pages = kItems * kPages;
        std::printf(
            "%d worker%s: %.2f s, %zu requests, %d rows, %.0f review pages/s, %.0f "
            "requests/s\n",
            workers, workers == 1 ? " " : "s", o.seconds, o.requests, o.rows, pages / o.seconds,
            o.requests / o.seconds);
        if (o.rows != kItems * kPages * kBuyersPerPage)
            std::printf("  unexpected row count (wanted %d)\n", kItems * kPages * kBuyersPerPage);
    }
    return 0;
}
