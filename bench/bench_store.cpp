// The cost of the results store. A review harvest with 3 workers against the loopback marketplace
// (200 items of 5 review pages, 20 buyers a page), without the store and writing every page
// through the window's recorder, over several rounds; prints pages/s of each and rows/s written.
// First into the program's window (offscreen), where showing a page is a call into the window's
// thread that, with the store, the writer thread makes instead of a worker. Then into the tests'
// window in memory, which costs nothing, so what is left is the store's own cost; and once more
// with a store that keeps nothing, which leaves the cost of handing the pages to the writer thread
// and showing their rows from there. The loopback answers at once, so those harvests are bound by
// the two cores they share with the store; the comparison is made again with every answer taking
// 10 ms, as over a network. Then 100,000 buyer rows written in pages of 20, the size of the
// database they make, and the time to read them back.
#include <sys/resource.h>
#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/window_operations.h"
#include "harvest/controls.h"
#include "harvest/review_harvest.h"
#include "store/results_recorder.h"
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
constexpr int kPacedItems = 40;
constexpr int kAnswerMs = 10;

// Takes every page and writes nothing: what is left of the store's cost is the way to it.
class KeepsNothing final : public ResultsStore {
public:
    std::string last_error() const override { return {}; }
    std::int64_t begin_run(RunKind, std::string_view) override { return 1; }
    bool end_run(std::int64_t, RunEnding) override { return true; }
    bool write_page(const AnswerPage&) override { return true; }
    bool put_urls(std::int64_t, int, const std::vector<Text>&) override { return true; }
    bool set_url_state(std::int64_t, int, UrlState, std::string_view) override { return true; }
    std::optional<UrlClaim> claim_url(std::int64_t, std::string_view) override { return {}; }
    std::vector<RunInfo> unfinished_runs() override { return {}; }
    StoredRows rows(std::int64_t) override { return {}; }
    std::vector<StoredUrl> urls(std::int64_t) override { return {}; }
    std::vector<StoredAnswer> answers(std::int64_t) override { return {}; }
    std::vector<AnswerSource> answer_sources(std::int64_t) override { return {}; }
};

using Recorders = std::function<std::shared_ptr<ResultsRecorder>(const fs::path& place)>;

std::shared_ptr<ResultsRecorder> sqlite_recorder(const fs::path& place) {
    return open_results(store_path(place), {},
                        [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
}

struct Outcome {
    double seconds = 0;
    double cpu_seconds = 0;  // the whole process's, the loopback marketplace's included
    int rows = 0;
};

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Starts the workers and returns once they all ended.
using RunWorkers = std::function<void(std::vector<std::function<void()>> workers)>;

void join_workers(std::vector<std::function<void()>> workers) {
    std::vector<std::thread> threads;
    for (auto& work : workers)
        threads.emplace_back(std::move(work));
    for (auto& t : threads)
        t.join();
}

// The real window's thread handles its events meanwhile: every row shown is a call into it.
void join_workers_in_event_loop(std::vector<std::function<void()>> workers) {
    QEventLoop loop;
    std::atomic<size_t> running = workers.size();
    std::vector<std::thread> threads;
    for (auto& work : workers)
        threads.emplace_back([&, work = std::move(work)] {
            work();
            if (running.fetch_sub(1) == 1)
                QMetaObject::invokeMethod(
                    &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
    loop.exec();
    for (auto& t : threads)
        t.join();
}

// The window a harvest lists into.
struct Listing {
    Window& window;
    RunWorkers run;
};

Outcome harvest(const Listing& listing, const std::vector<std::string>& urls,
                ResultsRecorder* recorder) {
    Window& window = listing.window;
    window.clear_rows(controls::kBuyerList);
    window.clear_rows(controls::kUrlList);
    std::vector<std::vector<Text>> rows;
    for (const auto& u : urls)
        rows.push_back({u});
    window.append_rows(controls::kUrlList, std::move(rows));
    ProgramValues values;
    const HostSettings hosts = Marketplace::hosts();
    ScaledSleeper sleeper(1000);
    values.ReviewRunFlag = 1;

    const double cpu_start = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::function<void()>> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&] {
            AnswerSink* sink = recorder != nullptr ? recorder->join_reviews(window) : nullptr;
            HarvestContext ctx{window, values, hosts, sleeper, sink};
            review_worker(ctx);
            if (sink != nullptr) recorder->leave_reviews(window, values);
        });
    listing.run(std::move(workers));
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count(), cpu_seconds() - cpu_start, window.row_count(controls::kBuyerList)};
}

double size_mb(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0.0 : static_cast<double>(size) / (1024.0 * 1024.0);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double lowest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

double highest(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

// Rounds alternate which harvest goes first, so a passing load on the shared machine hits both
// alike; every round is printed, then the medians. False when there is no store to measure or a
// harvest listed other than every buyer.
bool compare(const Listing& listing, const std::vector<std::string>& urls, int rounds,
             const fs::path& folder, const Recorders& recorders = sqlite_recorder) {
    const double pages = static_cast<double>(urls.size()) * kPages;
    std::vector<double> without_rates, with_rates, ratios, without_cpu, with_cpu;
    double rows_per_s = 0;
    for (int round = 0; round < rounds; ++round) {
        const fs::path place = folder / ("round" + std::to_string(round));
        fs::create_directories(place);
        const auto recorder = recorders(place);
        if (recorder->store() == nullptr) return false;
        Outcome without, with;
        if (round % 2 == 0) {
            without = harvest(listing, urls, nullptr);
            with = harvest(listing, urls, recorder.get());
        } else {
            with = harvest(listing, urls, recorder.get());
            without = harvest(listing, urls, nullptr);
        }
        const int buyers = static_cast<int>(urls.size()) * kPages * kBuyersPerPage;
        if (without.rows != buyers || with.rows != buyers) {
            std::fprintf(stderr, "listed %d and %d buyer rows, not %d\n", without.rows, with.rows,
                         buyers);
            return false;
        }
        without_rates.push_back(pages / without.seconds);
        with_rates.push_back(pages / with.seconds);
        ratios.push_back(100.0 * without.seconds / with.seconds);
        without_cpu.push_back(1e6 * without.cpu_seconds / pages);
        with_cpu.push_back(1e6 * with.cpu_seconds / pages);
        rows_per_s = std::max(rows_per_s, with.rows / with.seconds);
        std::printf(
            "  round %d: without store %.0f pages/s, with store %.0f pages/s (%.1f %%); CPU "
            "%.0f vs %.0f us a page\n",
            round + 1, without_rates.back(), with_rates.back(), ratios.back(), without_cpu.back(),
            with_cpu.back());
    }
    std::printf("  without store: median %.0f pages/s (%.0f..%.0f)\n", median(without_rates),
                lowest(without_rates), highest(without_rates));
    std::printf("  with store:    median %.0f pages/s (%.0f..%.0f), up to %.0f rows/s written\n",
                median(with_rates), lowest(with_rates), highest(with_rates), rows_per_s);
    std::printf("  CPU a page (process): median %.0f us without, %.0f us with the store\n",
                median(without_cpu), median(with_cpu));
    std::printf("  with/without per round: median %.1f %% (%.1f..%.1f %%)\n", median(ratios),
                lowest(ratios), highest(ratios));
    return true;
}

}  // namespace

// The argument, when given, is the number of rounds (4).
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    Marketplace market;
    if (!market.ok()) {
        std::fprintf(stderr, "cannot start the loopback marketplace\n");
        return 1;
    }
    ProxyEnvironment proxy(market);
    const std::vector<std::string> urls =
        add_review_items(market, kItems, kPages, kBuyersPerPage, [](int k, int p, int b) {
            return "2" + std::to_string(1000000000000000LL + k * 1000 + p * 100 + b);
        });
    TempFolder folder("zembra-bench-store");
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    AppState state;
    MainWindow main_window(state);
    main_window.show();
    const Listing real{main_window.operations(), join_workers_in_event_loop};
    MemoryWindow memory_window;
    const Listing in_memory{memory_window, join_workers};

    std::printf("review harvest, %d workers: %d items x %d pages, %d buyers a page\n", kWorkers,
                kItems, kPages, kBuyersPerPage);
    std::printf("into the window\n");
    if (!compare(real, urls, rounds, folder / "window")) return 1;
    std::printf("into a window in memory\n");
    if (!compare(in_memory, urls, rounds, folder / "memory")) return 1;
    std::printf("the same with a store that keeps nothing\n");
    if (!compare(in_memory, urls, rounds, folder / "nothing", [](const fs::path&) {
            return std::make_shared<ResultsRecorder>(std::make_unique<KeepsNothing>(), nullptr);
        }))
        return 1;
    // A real marketplace takes its time to answer: the harvest waits on the network, not the CPU.
    const std::vector<std::string> paced(urls.begin(), urls.begin() + kPacedItems);
    market.set_before_answer([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kAnswerMs));
    });
    std::printf("into the window, every answer taking %d ms: %d items\n", kAnswerMs, kPacedItems);
    if (!compare(real, paced, std::max(1, rounds / 2), folder / "paced")) return 1;
    market.set_before_answer({});

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
    // What a restore reads back.
    const auto read_start = std::chrono::steady_clock::now();
    const size_t read = store->rows(run).buyers.size();
    const std::chrono::duration<double> reading = std::chrono::steady_clock::now() - read_start;
    store.reset();  // the last connection checkpoints the journal into the file
    std::printf("100,000 buyer rows in pages of %d: %.0f rows/s, database %.2f MiB\n",
                kBuyersPerPage, kRows / elapsed.count(),
                size_mb(path) + size_mb(path.string() + "-wal"));
    std::printf("read back for a restore: %zu rows in %.0f ms\n", read, 1000 * reading.count());
    return read == static_cast<size_t>(kRows) ? 0 : 1;
}
