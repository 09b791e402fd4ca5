// The cost of the results store. A review harvest with 3 workers against the loopback marketplace
// (200 items of 5 review pages, 20 buyers a page), once without the store and once writing every
// page through the window's recorder; prints pages/s of each and rows/s written. Then 100,000
// buyer rows written in pages of 20, and the size of the database they make.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/results_recorder.h"
#include "harvest/controls.h"
#include "harvest/review_harvest.h"
#include "store/sqlite_store.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr int kItems = 200;
constexpr int kPages = 5;
constexpr int kBuyersPerPage = 20;
constexpr int kWorkers = 3;

struct Outcome {
    double seconds = 0;
    int rows = 0;
};

Outcome harvest(const std::vector<std::string>& urls, ResultsRecorder* recorder) {
    MemoryWindow window;
    ProgramValues values;
    const HostSettings hosts = Marketplace::hosts();
    ScaledSleeper sleeper(1000);
    std::vector<std::vector<Text>> rows;
    for (const auto& u : urls)
        rows.push_back({u});
    window.append_rows(controls::kUrlList, rows);

    values.ReviewRunFlag = 1;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < kWorkers; ++w)
        threads.emplace_back([&] {
            AnswerSink* sink = recorder != nullptr ? recorder->join_reviews(window) : nullptr;
            HarvestContext ctx{window, values, hosts, sleeper, sink};
            review_worker(ctx);
            if (sink != nullptr) recorder->leave_reviews(window, values);
        });
    for (auto& t : threads)
        t.join();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count(), window.row_count(controls::kBuyerList)};
}

double size_mb(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0.0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

}  // namespace

int main() {
    Marketplace market;
    if (!market.ok()) {
        std::fprintf(stderr, "cannot start the loopback marketplace\n");
        return 1;
    }
    ProxyEnvironment proxy(market);
    std::vector<std::string> urls;
    for (int k = 0; k < kItems; ++k) {
        MarketItem item;
        item.id = std::to_string(700000 + k);
        item.seller = std::to_string(900000 + k);
        item.kind = k % 2 ? MarketItem::Kind::Mall : MarketItem::Kind::Marketplace;
        for (int p = 0; p < kPages; ++p) {
            std::vector<std::string> buyers;
            for (int b = 0; b < kBuyersPerPage; ++b)
                buyers.push_back("2" + std::to_string(1000000000000000LL + k * 1000 + p * 100 + b));
            item.pages.push_back(buyers);
        }
        urls.push_back(item.url());
        market.add_item(std::move(item));
    }
    std::printf("review harvest, %d workers: %d items x %d pages, %d buyers a page\n", kWorkers,
                kItems, kPages, kBuyersPerPage);
    const double pages = kItems * kPages;
    TempFolder folder("zembra-bench-store");
    // Alternating, twice each, so a passing load on the machine hits both alike.
    double without_s = 0, with_s = 0;
    int with_rows = 0;
    for (int round = 0; round < 2; ++round) {
        without_s += harvest(urls, nullptr).seconds;
        std::string error;
        auto recorder = open_results(folder.path(), {}, [](const std::string& m) {
            std::fprintf(stderr, "%s\n", m.c_str());
        });
        const Outcome with = harvest(urls, recorder.get());
        with_s += with.seconds;
        with_rows += with.rows;
    }
    std::printf("  without store: %.0f pages/s\n", 2 * pages / without_s);
    std::printf("  with store:    %.0f pages/s, %.0f rows/s written (%.1f %% of the pages/s)\n",
                2 * pages / with_s, with_rows / with_s, 100.0 * without_s / with_s);

    constexpr int kRows = 100000;
    const fs::path path = folder / "size.db";
    std::string error;
    auto store = SqliteStore::open(path, {}, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto run = store->begin_run(RunKind::reviews, "");
    const auto start = std::chrono::steady_clock::now();
    for (int first = 1; first <= kRows; first += kBuyersPerPage) {
        AnswerPage page;
        page.run = run;
        page.source = {"market-reviews", "https://item.taobao.com/item.htm?id=520000123456",
                       first / kBuyersPerPage + 1, 0};
        for (int b = 0; b < kBuyersPerPage; ++b)
            page.buyers.push_back(
                {first + b, "2" + std::to_string(1000000000000000LL + first + b), "520000123456"});
        store->write_page(page);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    store.reset();  // the last connection checkpoints the journal into the file
    std::printf("100,000 buyer rows in pages of %d: %.0f rows/s, database %.2f MiB\n",
                kBuyersPerPage, kRows / elapsed.count(),
                size_mb(path) + size_mb(path.string() + "-wal"));
    return 0;
}
