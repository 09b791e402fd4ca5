// Figures of the window's control operations, real window offscreen: one worker-to-window round
// trip, 100,000 rows appended from a worker (a call per cell, and in batches), and what a
// million-row list costs in memory.
//
//   bench_window [rows]     (default 100,000)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "app/gbk_list_model.h"
#include "app/main_window.h"
#include "app/window_operations.h"

namespace {

using Clock = std::chrono::steady_clock;

long current_rss_kb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// Runs f on a worker while the window thread handles events; returns f's wall time in seconds.
double in_worker(const std::function<void()>& f) {
    QEventLoop loop;
    double seconds = 0;
    std::thread worker([&] {
        const auto start = Clock::now();
        f();
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return seconds;
}

// Lets the views catch up with the rows (the coalescing timer, layout, one paint).
double settle(MainWindow& window) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    window.repaint();
    return clock.elapsed() / 1000.0;
}

std::string url(long i) {
    return "https://item.taobao.com/item.htm?id=" + std::to_string(600000000000 + i);
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100'000;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    AppState state;
    MainWindow window(state);
    window.show();
    WindowOperations& ops = window.operations();
    settle(window);

    // Round trips: a write and a read, each waiting for the window thread.
    constexpr int kTrips = 20000;
    const double writes = in_worker([&] {
        for (int i = 0; i < kTrips; ++i)
            ops.set_pane(3, std::to_string(i));
    });
    const double reads = in_worker([&] {
        for (int i = 0; i < kTrips; ++i)
            ops.text("编辑框1");
    });
    std::printf("round trip, worker to window: write %.1f us, read %.1f us\n",
                writes / kTrips * 1e6, reads / kTrips * 1e6);

    // An item harvest's way: append a row, then write its other cells, one call each.
    const double one_by_one = in_worker([&] {
        for (int i = 0; i < rows; ++i) {
            const int row = ops.append_row("超级列表框2", std::to_string(i + 1));
            ops.set_cell("超级列表框2", row, 1, url(i));
            ops.set_cell("超级列表框2", row, 2, std::to_string(600000000000 + i));
            ops.set_cell("超级列表框2", row, 3, std::to_string(1000000 + i % 977));
        }
    });
    const double settle_one = settle(window);
    std::printf("%d rows from a worker, a call per cell (4 a row): %.2f s (+%.2f s for the view)\n",
                rows, one_by_one, settle_one);

    ops.clear_rows("超级列表框2");
    const double hidden = in_worker([&] {
        for (int i = 0; i < rows; ++i) {
            const int row = ops.append_row("超级列表框1", std::to_string(i + 1));
            ops.set_cell("超级列表框1", row, 1, url(i));
            ops.set_cell("超级列表框1", row, 2, std::to_string(600000000000 + i));
            ops.set_cell("超级列表框1", row, 3, std::to_string(1000000 + i % 977));
        }
    });
    std::printf("the same into the hidden list: %.2f s\n", hidden);
    ops.clear_rows("超级列表框1");
    constexpr int kBatch = 1000;
    const double batched = in_worker([&] {
        std::vector<std::vector<Text>> batch;
        for (int i = 0; i < rows; ++i) {
            batch.push_back({std::to_string(i + 1), url(i), std::to_string(600000000000 + i),
                             std::to_string(1000000 + i % 977)});
            if (batch.size() == kBatch || i + 1 == rows) {
                ops.append_rows("超级列表框2", std::move(batch));
                batch.clear();
            }
        }
    });
    const double settle_batched = settle(window);
    std::printf("%d rows from a worker, append_rows by %d: %.3f s (+%.2f s for the view)\n", rows,
                kBatch, batched, settle_batched);
    ops.clear_rows("超级列表框2");
    settle(window);

    // A million item addresses in the URL list, from a worker in batches, then shown.
    constexpr int kMillion = 1'000'000;
    const long before_kb = current_rss_kb();
    const double million = in_worker([&] {
        std::vector<std::vector<Text>> batch;
        for (int i = 0; i < kMillion; ++i) {
            batch.push_back({url(i)});
            if (batch.size() == 10000) {
                ops.append_rows("超级列表框2_URL", std::move(batch));
                batch.clear();
            }
        }
    });
    const double settle_million = settle(window);
    const long after_kb = current_rss_kb();
    const GbkListModel* model = window.list_model("超级列表框2_URL");
    std::printf(
        "1,000,000 URL rows (%zu bytes of text each): %.2f s (+%.2f s for the view); RSS +%.1f MB "
        "(%.0f bytes a row), the cells hold %.1f MB\n",
        url(0).size(), million, settle_million, (after_kb - before_kb) / 1024.0,
        (after_kb - before_kb) * 1024.0 / kMillion, model->memory_bytes() / 1048576.0);
    return 0;
}
